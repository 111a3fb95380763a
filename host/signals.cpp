#include "host/signals.h"

#include <signal.h>
#include <sys/resource.h>

namespace {

constexpr int Interrupts[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGALRM,
                              SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};

// Writes that would kill the process fail instead.
constexpr int Ignored[] = {SIGPIPE, SIGXFSZ};

constexpr long long RepeatWindowNs = 100'000'000;  // 0.1 s

// What ends the run: the first signal, or SIGPIPE for a closed console.
volatile std::sig_atomic_t interruptSignal = 0;

// The first signal that arrived and when. Only the handler uses them, and no handler runs
// inside another: each blocks all of the signals.
int firstSignal = 0;
timespec firstArrival{};

extern "C" void on_interrupt(int sig) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
  if (firstSignal == 0) {
    firstSignal = sig;
    firstArrival = now;
    if (interruptSignal == 0) interruptSignal = sig;
    return;
  }
  if (repeats_first(firstSignal, firstArrival, sig, now)) return;
  struct sigaction byDefault = {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  sigaction(sig, &byDefault, nullptr);
  raise(sig);  // blocked until the handler returns, then the default action
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : Interrupts) sigaddset(&set, sig);
  return set;
}

// A CPU-time limit's soft and hard values alike (bash's ulimit -t): at the hard one the kernel
// sends SIGKILL, also where the first SIGXCPU is due. A soft limit a second below leaves the
// run that second of CPU time to end on SIGXCPU; a hard limit under 2 s leaves none.
void leave_a_second_before_the_hard_cpu_limit() {
  rlimit cpu{};
  if (getrlimit(RLIMIT_CPU, &cpu) != 0 || cpu.rlim_max == RLIM_INFINITY) return;
  if (cpu.rlim_cur != cpu.rlim_max || cpu.rlim_max < 2) return;
  cpu.rlim_cur = cpu.rlim_max - 1;
  setrlimit(RLIMIT_CPU, &cpu);
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  action.sa_mask = interrupt_set();
  action.sa_flags = SA_RESTART;  // the model's reads and writes go on undisturbed
  for (int sig : Interrupts) {
    // Asked first: a handler in place for a moment would catch a signal meant to be ignored.
    struct sigaction before = {};
    if (sigaction(sig, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    if (sigaction(sig, &action, nullptr) == 0 && sig == SIGXCPU)
      leave_a_second_before_the_hard_cpu_limit();
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int sig : Ignored) sigaction(sig, &ignore, nullptr);
}

const volatile std::sig_atomic_t* interrupt_flag() { return &interruptSignal; }

void interrupt_by_closed_pipe() {
  // No signal may come between the test and the write: its number would be overwritten.
  const sigset_t interrupts = interrupt_set();
  sigset_t before;
  sigprocmask(SIG_BLOCK, &interrupts, &before);
  if (interruptSignal == 0) interruptSignal = SIGPIPE;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

bool repeats_first(int first, const timespec& firstAt, int sig, const timespec& now) noexcept {
  if (sig != first) return false;
  const long long since = (static_cast<long long>(now.tv_sec) - firstAt.tv_sec) * 1'000'000'000 +
                          (now.tv_nsec - firstAt.tv_nsec);
  return since < RepeatWindowNs;
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
    case SIGXCPU: return "SIGXCPU";
    case SIGVTALRM: return "SIGVTALRM";
    case SIGPROF: return "SIGPROF";
    case SIGPIPE: return "SIGPIPE";
    default: return "a signal";
  }
}
