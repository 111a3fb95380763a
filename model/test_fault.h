// Test-only faults of the model body. Off unless a test switches them on: the word and the
// hook are internal to the library (not exported from Tavelo.so); unit tests set them
// directly, FMI-boundary tests through the test build of the library (Tavelo_faults.so, which
// exports Tavelo_testSetFault and Tavelo_testSetPrintFlags). Checked once at the start of every
// pass.
#pragma once

#include <cstdint>

#include "model/dsblock.h"

enum TestFault : int32_t {
  TestFaultNone = 0,
  TestFaultModelError = 1,    // every pass raises a model error ("Test fault: model error")
  TestFaultKeepChanging = 2,  // at every event pass a test relation switches its value
  TestFaultTerminate = 3,     // every pass sets RunStatus to terminate (-999)
  TestFaultTimeEvents = 4,    // every event pass requests time events 0.75, 0.5 and 2 s ahead
  TestFaultTerminateCall = 5, // every pass calls terminate_simulation("Test fault: terminate")
};

extern int32_t tavelo_test_fault;

// Called at the start of every pass when set (unit tests).
using TestPassHook = void (*)(const ModelEntryArguments& a);
extern TestPassHook tavelo_test_pass_hook;

void apply_test_fault(const ModelEntryArguments& a);

// Unit tests of the entry and of the chain's frame: when nonzero, the body runs without its
// friction work (no pre-value updates, no friction system, no modes and level-3 outputs), so
// that nothing changes in a pass but what the test makes change.
extern int32_t tavelo_test_bare_body;

// Bits that every pass ORs into printFlags (which an initialisation clears), so that a test
// sees the change logging of bit 0x2 at the FMI boundary. 0 unless a test sets it.
extern int32_t tavelo_test_print_flags;
