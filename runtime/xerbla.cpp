// LAPACK's argument-error handler. The library's default prints a line and stops the process;
// inside a model loaded by a simulation host that must never happen, so this one returns at
// once without output and the routine that called it returns to its caller (with its info
// argument set where it has one). The build links this definition ahead of the archives and
// keeps it hidden, so neither the archives' own handler nor one of the host's is used.
#include "runtime/lapack.h"

extern "C" void xerbla_(const char* /*name*/, const int* /*info*/, size_t /*nameLength*/) {}
