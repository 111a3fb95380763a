// The signals that end a run early and cleanly: SIGINT and SIGTERM. The first of them asks
// the run to end after the step it is in: the model is terminated and freed (so its result
// file is complete), the summary says where the run ended, the exit status is 128 + the
// signal's number. A second one ends the process at once, as the signal would have without a
// handler. A signal ignored from the start (a background job of a shell) stays ignored.
#pragma once

#include <csignal>

void catch_interrupts();

// The first of the signals that arrived, 0 while none has.
const volatile std::sig_atomic_t* interrupt_flag();

const char* signal_name(int sig);
