#include "host/signals.h"

#include <signal.h>

namespace {

constexpr int Interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};

// Writes that would kill the process fail instead.
constexpr int Ignored[] = {SIGPIPE, SIGXFSZ};

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

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : Interrupts) sigaddset(&set, sig);
  return set;
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  action.sa_mask = interrupt_set();
  action.sa_flags = SA_RESTART;  // the model's reads and writes go on undisturbed
  for (int sig : Interrupts) {
    struct sigaction before = {};
    sigaction(sig, &action, &before);
    if (before.sa_handler == SIG_IGN) sigaction(sig, &before, nullptr);
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int sig : Ignored) sigaction(sig, &ignore, nullptr);
}

const volatile std::sig_atomic_t* interrupt_flag() { return &interruptSignal; }

void interrupt_by_closed_pipe() {
  // No signal may come between the test and the write: it would be taken for the second one.
  const sigset_t interrupts = interrupt_set();
  sigset_t before;
  sigprocmask(SIG_BLOCK, &interrupts, &before);
  if (interruptSignal == 0) interruptSignal = SIGPIPE;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    case SIGALRM: return "SIGALRM";
    case SIGUSR1: return "SIGUSR1";
    case SIGUSR2: return "SIGUSR2";
    case SIGPIPE: return "SIGPIPE";
    default: return "a signal";
  }
}
