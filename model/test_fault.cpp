#include "model/test_fault.h"

#include "runtime/builtins.h"
#include "runtime/output.h"
#include "runtime/relations.h"
#include "runtime/runtime_state.h"

int32_t tavelo_test_fault = TestFaultNone;
TestPassHook tavelo_test_pass_hook = nullptr;
int32_t tavelo_test_bare_body = 0;
int32_t tavelo_test_print_flags = 0;

namespace {

// The test relation's own state; the model's relations are left alone.
int32_t flipValue = 0;
double flipHyst = 0.0;
double flipNominal = 0.0;

}  // namespace

void apply_test_fault(const ModelEntryArguments& a) {
  modelRuntime.printFlags |= tavelo_test_print_flags;
  if (tavelo_test_pass_hook != nullptr) tavelo_test_pass_hook(a);
  switch (tavelo_test_fault) {
    case TestFaultModelError:
      model_error("Test fault: model error");
    case TestFaultKeepChanging:
      if (modelRuntime.event) {
        // Always on the other side of zero from its value, far beyond its hysteresis.
        const double z = flipValue ? -1.0 : 1.0;
        event_relation("testFault.flip > 0", "(testFault.flip)-(0)", &flipValue, &flipHyst,
                       &flipNominal, modelRuntime.EventEpsilon, z, modelRuntime.initial,
                       modelRuntime.printFlags, &modelRuntime.changed, 0, 0, 0, 1e-4,
                       modelRuntime.eventIteration > 5);
      }
      break;
    case TestFaultTerminate:
      modelRuntime.status = RunStatusTerminate;
      break;
    case TestFaultTimeEvents:
      if (modelRuntime.event) {
        // The second replaces the first; the third lies after it and is dropped.
        register_time_event(modelRuntime.time + 0.75);
        register_time_event(modelRuntime.time + 0.5);
        register_time_event(modelRuntime.time + 2.0);
      }
      break;
    case TestFaultTerminateCall:
      terminate_simulation("Test fault: terminate");
      break;
    default:
      break;
  }
}
