// The extra entries of the test build Tavelo_faults.so: switch a test fault of the model body on
// or off, and set bits that every pass ORs into printFlags (see model/test_fault.h). Never part
// of the shipped Tavelo.so.
#include "model/test_fault.h"

extern "C" __attribute__((visibility("default"))) void Tavelo_testSetFault(int fault) {
  tavelo_test_fault = fault;
}

extern "C" __attribute__((visibility("default"))) void Tavelo_testSetPrintFlags(int flags) {
  tavelo_test_print_flags = flags;
}
