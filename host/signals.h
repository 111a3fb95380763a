// The signals that end a run early and cleanly: SIGINT, SIGTERM, SIGHUP (the terminal closed),
// SIGQUIT, SIGALRM, SIGUSR1 and SIGUSR2. The first of them asks the run to end after the step
// it is in: the model is terminated and freed (so its result file is complete), the summary
// says where the run ended, the exit status is 128 + the signal's number. A second one ends
// the process at once, as the signal would have without a handler. A signal ignored from the
// start (a background job of a shell) stays ignored.
//
// SIGPIPE and SIGXFSZ are ignored: a write to a closed pipe or past a file-size limit then
// fails like any other failed write instead of killing the process, perhaps in the middle of
// a row of the result file. A console that is a closed pipe ends the run as a signal does.
#pragma once

#include <csignal>

void catch_interrupts();

// The first of the signals that arrived, 0 while none has.
const volatile std::sig_atomic_t* interrupt_flag();

// The console is a closed pipe: the run ends as on a signal, with SIGPIPE's number, unless a
// signal came first.
void interrupt_by_closed_pipe();

const char* signal_name(int sig);
