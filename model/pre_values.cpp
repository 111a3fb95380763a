// Pre values of the discrete friction variables and the saved friction solution.
#include "model/pre_values.h"

#include <cstdio>

#include "model/friction_system.h"
#include "runtime/output.h"
#include "runtime/runtime_state.h"

double preValues[DiscreteCount];
int32_t preValueFlags[DiscreteCount];
double discreteSave[DiscreteCount];
double saLast[2];
double saPrev[2];
double saTime = 0.0;
double saPrevTime = 0.0;

namespace {

namespace fp = friction_position;

struct DiscreteVariable {
  int position;         // in the auxiliaries
  int preValue;         // element of preValues
  double initialValue;  // pre value at initialisation
  const char* name;
};

// In the order the update handles them.
constexpr DiscreteVariable discreteVariables[DiscreteCount] = {
    {fp::ArmMode, 0, ModeUnknown, "armBearingFriction.mode"},
    {fp::ArmStartBackward, 3, 0.0, "armBearingFriction.startBackward"},
    {fp::ArmStartForward, 2, 0.0, "armBearingFriction.startForward"},
    {fp::PendulumMode, 1, ModeUnknown, "pendulumBearingFriction.mode"},
    {fp::PendulumStartBackward, 5, 0.0, "pendulumBearingFriction.startBackward"},
    {fp::PendulumStartForward, 4, 0.0, "pendulumBearingFriction.startForward"},
};

}  // namespace

double log_variable_change(const char* name, double value, double time) {
  char line[1004];
  std::snprintf(line, sizeof line, "  Variable %.400s = %g at time %g", name, value, time);
  log_message_line(line);
  return 1.0;
}

void update_discrete_pre_values(const ModelEntryArguments& a, int mode, int initial, int event,
                                int moveFlag) {
  ModelRuntimeState& rt = modelRuntime;
  const double t = *a.time;
  const double* w = a.auxiliaries;
  if (initial != 0 || event != 0) {
    for (const DiscreteVariable& v : discreteVariables) {
      double& pre = preValues[v.preValue];
      if (initial != 0) {
        pre = v.initialValue;
        rt.changed = 1;
      } else if (w[v.position] != pre) {
        rt.changed = 1;
        if (rt.printFlags & PrintFlagEvents) log_variable_change(v.name, w[v.position], t);
        pre = w[v.position];
      }
    }
  }
  if (moveFlag != 0 || initial != 0 || mode != 0) {
    if (moveFlag != 0 && saTime < t) {
      saPrevTime = saTime;
      saPrev[0] = saLast[0];
      saPrev[1] = saLast[1];
    }
    saTime = t;
    saLast[1] = w[fp::ArmSa];
    saLast[0] = w[fp::PendulumSa];
  }
}
