// The signals that end a run early and cleanly: SIGINT, SIGTERM, SIGHUP (the terminal closed),
// SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, and SIGXCPU, SIGVTALRM and SIGPROF (a CPU-time limit or
// its timers, as batch systems set them). The first of them asks the run to end after the
// step it is in: the model is terminated and freed (so its result file is complete), the
// summary says where the run ended, the exit status is 128 + the signal's number. A second one
// ends the process at once, as the signal would have without a handler; the same signal again
// within 0.1 s of the first is the same request (timeout signals the process, then its process
// group; a closed terminal sends SIGHUP twice). A signal ignored from the start (a background
// job of a shell, nohup) stays ignored. A CPU-time limit whose soft value is its hard one
// (bash's ulimit -t) gets its soft value lowered a second, where SIGXCPU is caught: SIGXCPU then
// comes a second of CPU time before the kernel's SIGKILL (a hard limit under 2 s leaves none).
//
// SIGPIPE and SIGXFSZ are ignored: a write to a closed pipe or past a file-size limit then
// fails like any other failed write instead of killing the process, perhaps in the middle of
// a row of the result file. A console that is a closed pipe ends the run as a signal does.
#pragma once

#include <csignal>
#include <ctime>

void catch_interrupts();

// What ends the run: the first of the signals that arrived, or SIGPIPE for a closed console;
// 0 while neither has.
const volatile std::sig_atomic_t* interrupt_flag();

// The console is a closed pipe: the run ends as on a signal, with SIGPIPE's number, unless a
// signal came first. It is no signal: the first one that comes after it is no second one.
void interrupt_by_closed_pipe();

// Whether signal sig, arriving at now, repeats the first signal, which arrived at firstAt: the
// same signal less than 0.1 s later. Times of CLOCK_MONOTONIC.
bool repeats_first(int first, const timespec& firstAt, int sig, const timespec& now) noexcept;

const char* signal_name(int sig);
