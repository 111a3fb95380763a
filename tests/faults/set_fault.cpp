// The one extra entry of the test build Tavelo_faults.so: switches a test fault of the model
// body on or off (see model/test_fault.h). Never part of the shipped Tavelo.so.
#include "model/test_fault.h"

extern "C" __attribute__((visibility("default"))) void Tavelo_testSetFault(int fault) {
  tavelo_test_fault = fault;
}
