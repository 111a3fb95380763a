// The signals that end a run: a signal delivered twice at once is one request, a second one
// ends the process, a closed console is no signal, one ignored at the start is never caught.
// A CPU-time limit whose soft and hard values are equal leaves a second for SIGXCPU. Each case
// runs in a child process of its own (the handlers and the limits are the process's).
//
// The test binary is linked with sigaction wrapped: armed with a signal, the wrapper delivers it
// right after a handler for it is set, as a signal arriving in that very moment would be.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "host/signals.h"

extern "C" int __real_sigaction(int sig, const struct sigaction* act, struct sigaction* old);

namespace {
int arrivesWhenCaught = 0;
}  // namespace

extern "C" int __wrap_sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
  const int result = __real_sigaction(sig, act, old);
  if (result == 0 && sig == arrivesWhenCaught && act != nullptr && act->sa_handler != SIG_IGN &&
      act->sa_handler != SIG_DFL)
    raise(sig);
  return result;
}

namespace {

struct RepeatCase {
  const char* what;
  int sig;
  timespec at;
  bool repeats;
};

TEST(Signals, TheSameSignalWithinATenthOfASecondRepeatsTheFirst) {
  const timespec first = {5, 950'000'000};
  const RepeatCase cases[] = {
      {"the same signal at once", SIGINT, {5, 950'000'000}, true},
      {"a nanosecond short of 0.1 s, in the next second", SIGINT, {6, 49'999'999}, true},
      {"0.1 s later", SIGINT, {6, 50'000'000}, false},
      {"a nanosecond past 0.1 s", SIGINT, {6, 50'000'001}, false},
      {"a second later", SIGINT, {6, 950'000'000}, false},
      {"ten seconds later, a moment after the first's place in its second", SIGINT,
       {15, 950'000'001}, false},
      {"another signal at once", SIGTERM, {5, 950'000'000}, false},
  };
  for (const RepeatCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(repeats_first(SIGINT, first, c.sig, c.at), c.repeats);
  }
}

// The run's flag after the signals, as the exit status of the child: the signal's number.
[[noreturn]] void exit_with_flag() { _exit(*interrupt_flag()); }

void pause_for(double seconds) {
  timespec t = {static_cast<time_t>(seconds),
                static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  while (nanosleep(&t, &t) != 0) {
  }
}

TEST(Signals, TheSameSignalTwiceAtOnceIsOneRequest) {
  // timeout signals the process and then its process group; a closed terminal sends SIGHUP
  // from the shell and from the kernel.
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_name(sig));
    EXPECT_EXIT(
        {
          catch_interrupts();
          raise(sig);
          raise(sig);
          exit_with_flag();
        },
        testing::ExitedWithCode(sig), "");
  }
}

TEST(Signals, AnotherSignalOrTheSameOneLaterEndsTheProcess) {
  EXPECT_EXIT(
      {
        catch_interrupts();
        raise(SIGTERM);
        raise(SIGINT);
        exit_with_flag();
      },
      testing::KilledBySignal(SIGINT), "");
  EXPECT_EXIT(
      {
        catch_interrupts();
        raise(SIGTERM);
        pause_for(0.2);
        raise(SIGTERM);
        exit_with_flag();
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(Signals, AClosedConsoleIsNoFirstSignal) {
  // The run ends as on SIGPIPE; the user's Ctrl-C after it is a first signal, a signal after
  // that a second one.
  EXPECT_EXIT(
      {
        catch_interrupts();
        interrupt_by_closed_pipe();
        raise(SIGINT);
        exit_with_flag();
      },
      testing::ExitedWithCode(SIGPIPE), "");
  EXPECT_EXIT(
      {
        catch_interrupts();
        interrupt_by_closed_pipe();
        raise(SIGINT);
        raise(SIGTERM);
        exit_with_flag();
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(Signals, AClosedConsoleAfterASignalKeepsTheSignal) {
  // The summary written to a pipe whose reader has gone, after a signal ended the run.
  EXPECT_EXIT(
      {
        catch_interrupts();
        raise(SIGINT);
        interrupt_by_closed_pipe();
        exit_with_flag();
      },
      testing::ExitedWithCode(SIGINT), "");
}

struct CpuLimitCase {
  const char* what;
  rlim_t soft, hard;
  bool ignored;  // SIGXCPU ignored from the start
  rlim_t softAfter;
};

// A soft CPU-time limit as an exit status: 0 for none.
int status_of(rlim_t soft) { return soft == RLIM_INFINITY ? 0 : static_cast<int>(soft); }

// The limits given, the handlers set: the soft limit then, as the exit status of the child
// (100 where the hard limit changed too).
[[noreturn]] void exit_with_soft_cpu_limit(const CpuLimitCase& c) {
  rlimit limit{};
  limit.rlim_cur = c.soft;
  limit.rlim_max = c.hard;
  if (setrlimit(RLIMIT_CPU, &limit) != 0) _exit(101);
  if (c.ignored) signal(SIGXCPU, SIG_IGN);
  catch_interrupts();
  getrlimit(RLIMIT_CPU, &limit);
  _exit(limit.rlim_max != c.hard ? 100 : status_of(limit.rlim_cur));
}

TEST(Signals, AnEqualSoftCpuTimeLimitIsLoweredASecondBelowTheHardOne) {
  // At the hard limit the kernel sends SIGKILL, even where the first SIGXCPU is due.
  const CpuLimitCase cases[] = {
      {"ulimit -t 5", 5, 5, false, 4},
      {"ulimit -t 2, the least that leaves a second", 2, 2, false, 1},
      {"ulimit -t 1: no second to leave", 1, 1, false, 1},
      {"a soft limit below the hard one", 3, 5, false, 3},
      {"a soft limit and no hard one", 3, RLIM_INFINITY, false, 3},
      {"no limit", RLIM_INFINITY, RLIM_INFINITY, false, RLIM_INFINITY},
      {"SIGXCPU ignored", 5, 5, true, 5},
  };
  for (const CpuLimitCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(exit_with_soft_cpu_limit(c), testing::ExitedWithCode(status_of(c.softAfter)),
                "");
  }
}

TEST(Signals, OneIgnoredAtTheStartIsNotCaughtEvenForAMoment) {
  // SIGHUP under nohup, arriving right when a handler for it would be set. Where it is not
  // ignored, the same arrival is caught: the wrapper delivers it.
  for (const bool ignored : {true, false}) {
    SCOPED_TRACE(ignored ? "ignored" : "not ignored");
    EXPECT_EXIT(
        {
          if (ignored) signal(SIGHUP, SIG_IGN);
          arrivesWhenCaught = SIGHUP;
          catch_interrupts();
          struct sigaction now = {};
          sigaction(SIGHUP, nullptr, &now);
          if (ignored && now.sa_handler != SIG_IGN) _exit(100);
          exit_with_flag();
        },
        testing::ExitedWithCode(ignored ? 0 : SIGHUP), "");
  }
}

}  // namespace
