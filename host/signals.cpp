#include "host/signals.h"

#include <signal.h>

namespace {

constexpr int Interrupts[] = {SIGINT, SIGTERM};

volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void on_interrupt(int sig) {
  if (interruptSignal != 0) {
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(sig, &byDefault, nullptr);
    raise(sig);  // blocked until the handler returns, then the default action
    return;
  }
  interruptSignal = sig;
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int sig : Interrupts) sigaddset(&action.sa_mask, sig);
  action.sa_flags = SA_RESTART;  // the model's reads and writes go on undisturbed
  for (int sig : Interrupts) {
    struct sigaction before = {};
    sigaction(sig, &action, &before);
    if (before.sa_handler == SIG_IGN) sigaction(sig, &before, nullptr);
  }
}

const volatile std::sig_atomic_t* interrupt_flag() { return &interruptSignal; }

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
  }
}
