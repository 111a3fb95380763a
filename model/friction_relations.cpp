// The friction Booleans of both bearings (startForward, startBackward, locked), the 16 relations
// they read, and the Boolean work of one pass of the friction system's fixed-point iteration:
// the sweeps over the Booleans and, at events, the shortening of the step from the previous
// pass's solution to just past the first relation the new one crossed.
#include "model/friction_system.h"
#include "model/pre_values.h"
#include "runtime/output.h"
#include "runtime/relations.h"
#include "runtime/runtime_state.h"

namespace {

namespace fp = friction_position;

constexpr double MinimumStep = 0.001;
constexpr double CrossingTolerance = 1e-12;

// Where a side of a relation comes from.
enum class Source : int8_t { Auxiliary, State, Parameter, Zero };

struct Side {
  Source source;
  int16_t position;
  bool negated;
};

struct FrictionRelation {
  const char* text;
  const char* difference;
  Side lhs;
  Side rhs;
  int direction;  // 0 "lhs > rhs", 1 "lhs < rhs"
};

constexpr Side aux(int position, bool negated = false) {
  return {Source::Auxiliary, static_cast<int16_t>(position), negated};
}
constexpr Side state(int position) {
  return {Source::State, static_cast<int16_t>(position), false};
}
constexpr Side parameter(int position, bool negated = false) {
  return {Source::Parameter, static_cast<int16_t>(position), negated};
}
constexpr Side Zero{Source::Zero, 0, false};

constexpr int ArmWSmall = 59;       // parameter armBearingFriction.w_small
constexpr int PendulumWSmall = 61;  // parameter pendulumBearingFriction.w_small

constexpr FrictionRelation relations[FrictionRelationCount] = {
    {"armBearingFriction.sa > armBearingFriction.tau0_max",
     "(armBearingFriction.sa)-(armBearingFriction.tau0_max)", aux(fp::ArmSa), aux(fp::ArmTau0Max),
     0},
    {"armBearingFriction.sa > armBearingFriction.tau0",
     "(armBearingFriction.sa)-(armBearingFriction.tau0)", aux(fp::ArmSa), aux(fp::ArmTau0), 0},
    {"armJoint.w > armBearingFriction.w_small", "(armJoint.w)-(armBearingFriction.w_small)",
     state(1), parameter(ArmWSmall), 0},
    {"armJoint.w > 0", "(armJoint.w)-(0)", state(1), Zero, 0},
    {"armBearingFriction.sa <  -armBearingFriction.tau0_max",
     "(armBearingFriction.sa)-( -armBearingFriction.tau0_max)", aux(fp::ArmSa),
     aux(fp::ArmTau0Max, true), 1},
    {"armBearingFriction.sa <  -armBearingFriction.tau0",
     "(armBearingFriction.sa)-( -armBearingFriction.tau0)", aux(fp::ArmSa), aux(fp::ArmTau0, true),
     1},
    {"armJoint.w <  -armBearingFriction.w_small", "(armJoint.w)-( -armBearingFriction.w_small)",
     state(1), parameter(ArmWSmall, true), 1},
    {"armJoint.w < 0", "(armJoint.w)-(0)", state(1), Zero, 1},
    {"pendulumBearingFriction.sa > pendulumBearingFriction.tau0_max",
     "(pendulumBearingFriction.sa)-(pendulumBearingFriction.tau0_max)", aux(fp::PendulumSa),
     aux(fp::PendulumTau0Max), 0},
    {"pendulumBearingFriction.sa > pendulumBearingFriction.tau_pos[1, 2]",
     "(pendulumBearingFriction.sa)-(pendulumBearingFriction.tau_pos[1, 2])", aux(fp::PendulumSa),
     aux(fp::PendulumTau), 0},
    {"pendulumJoint.w > pendulumBearingFriction.w_small",
     "(pendulumJoint.w)-(pendulumBearingFriction.w_small)", state(3), parameter(PendulumWSmall), 0},
    {"pendulumJoint.w > 0", "(pendulumJoint.w)-(0)", state(3), Zero, 0},
    {"pendulumBearingFriction.sa <  -pendulumBearingFriction.tau0_max",
     "(pendulumBearingFriction.sa)-( -pendulumBearingFriction.tau0_max)", aux(fp::PendulumSa),
     aux(fp::PendulumTau0Max, true), 1},
    {"pendulumBearingFriction.sa <  -pendulumBearingFriction.tau_pos[1, 2]",
     "(pendulumBearingFriction.sa)-( -pendulumBearingFriction.tau_pos[1, 2])", aux(fp::PendulumSa),
     aux(fp::PendulumTau, true), 1},
    {"pendulumJoint.w <  -pendulumBearingFriction.w_small",
     "(pendulumJoint.w)-( -pendulumBearingFriction.w_small)", state(3),
     parameter(PendulumWSmall, true), 1},
    {"pendulumJoint.w < 0", "(pendulumJoint.w)-(0)", state(3), Zero, 1},
};

double side_value(const ModelEntryArguments& a, const Side& side) {
  double v = 0.0;
  switch (side.source) {
    case Source::Auxiliary: v = a.auxiliaries[side.position]; break;
    case Source::State: v = a.states[side.position]; break;
    case Source::Parameter: v = a.parameters[side.position]; break;
    case Source::Zero: return 0.0;
  }
  return side.negated ? -v : v;
}

// One bearing's Booleans, their relations and pre values.
struct Bearing {
  int startForward, startBackward, locked;         // positions
  int preMode, preStartForward, preStartBackward;  // elements of preValues
  int forward[4];                                  // relations (a, b, c, d) of startForward
  int backward[4];                                 // relations (a, b, c, d) of startBackward
  const char* names[3];                            // startForward, startBackward, locked
};

constexpr Bearing armBearing{fp::ArmStartForward,
                             fp::ArmStartBackward,
                             fp::ArmLocked,
                             0,
                             2,
                             3,
                             {0, 1, 2, 3},
                             {4, 5, 6, 7},
                             {"armBearingFriction.startForward", "armBearingFriction.startBackward",
                              "armBearingFriction.locked"}};
constexpr Bearing pendulumBearing{
    fp::PendulumStartForward,
    fp::PendulumStartBackward,
    fp::PendulumLocked,
    1,
    4,
    5,
    {8, 9, 10, 11},
    {12, 13, 14, 15},
    {"pendulumBearingFriction.startForward", "pendulumBearingFriction.startBackward",
     "pendulumBearingFriction.locked"}};

enum class Boolean { StartForward, StartBackward, Locked };

// startForward and startBackward, left to right with short-circuit: a relation the rule does
// not reach is not evaluated. `opposite` is the mode from which the c term starts the bearing.
bool start_rule(const ModelEntryArguments& a, const int (&r)[4], double preMode, double preStart,
                double opposite) {
  return (preMode == ModeStuck &&
          (friction_relation(a, r[0]) || (preStart != 0.0 && friction_relation(a, r[1])))) ||
         (preMode == opposite && friction_relation(a, r[2])) ||
         (modelRuntime.initial == 1 && friction_relation(a, r[3]));
}

bool rule(const ModelEntryArguments& a, const Bearing& b, Boolean which) {
  const double preMode = preValues[b.preMode];
  switch (which) {
    case Boolean::StartForward:
      return start_rule(a, b.forward, preMode, preValues[b.preStartForward], ModeBackward);
    case Boolean::StartBackward:
      return start_rule(a, b.backward, preMode, preValues[b.preStartBackward], ModeForward);
    case Boolean::Locked: break;
  }
  const double* w = a.auxiliaries;
  return !(preMode == ModeForward || w[b.startForward] != 0.0 || preMode == ModeBackward ||
           w[b.startBackward] != 0.0);
}

// Evaluates each Boolean of the bearing in order and stores a changed one; returns whether any
// changed. With change logging on, a changed Boolean's rule is evaluated once more and that
// result is logged.
bool sweep_bearing(const ModelEntryArguments& a, const Bearing& b) {
  constexpr Boolean order[3] = {Boolean::StartForward, Boolean::StartBackward, Boolean::Locked};
  const int positions[3] = {b.startForward, b.startBackward, b.locked};
  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    const double v = rule(a, b, order[i]) ? 1.0 : 0.0;
    double& stored = a.auxiliaries[positions[i]];
    if (v == stored) continue;
    changed = true;
    stored = v;
    if (modelRuntime.printFlags & PrintFlagEvents) {
      const double again = rule(a, b, order[i]) ? 1.0 : 0.0;
      log_variable_change(b.names[i], again, modelRuntime.time);
    }
  }
  return changed;
}

bool sweep(const ModelEntryArguments& a) {
  const bool arm = sweep_bearing(a, armBearing);
  const bool pendulum = sweep_bearing(a, pendulumBearing);
  return arm || pendulum;
}

}  // namespace

bool friction_relation(const ModelEntryArguments& a, int k) {
  const FrictionRelation& r = relations[k];
  RelationHysteresis& rh = relation_hysteresis;
  ModelRuntimeState& rt = modelRuntime;
  const double lhs = side_value(a, r.lhs);
  const double rhs = side_value(a, r.rhs);
  rh.z[k] = lhs - rhs;
  rh.scale[k] = lhs > 1.0 ? lhs : (-lhs > 1.0 ? -lhs : 1.0);
  if (rt.event != 0) {
    event_relation(r.text, r.difference, &rh.value[k], &rh.hyst[k], &rh.nominal[k],
                   rt.EventEpsilon * rh.scale[k], rh.z[k], rt.initial, rt.printFlags, &rt.changed,
                   r.direction, 0, rh.evaluatedBefore[k], 1e-4 * rh.scale[k],
                   rt.eventIteration > 5 ? 1 : 0);
  }
  a.eventIndicators[2 * k] = rh.z[k] - rh.hyst[k];
  a.eventIndicators[2 * k + 1] = a.eventIndicators[2 * k];
  rh.evaluatedBefore[k] = 1;
  return rh.value[k] != 0;
}

int friction_boolean_pass(const ModelEntryArguments& a, int pass) {
  FrictionSystemState& fs = frictionSystem;
  const RelationHysteresis& rh = relation_hysteresis;
  const bool searching = modelRuntime.event != 0 && pass > 1;
  int passChanged = 0;

  if (searching)
    for (int k = 0; k < FrictionRelationCount; ++k)
      fs.zOld[k] = rh.evaluatedBefore[k] ? rh.z[k] : 0.0;

  double tMin = 1.0;
  double tNext = 1.0;
  if (sweep(a)) passChanged = 1;

  if (searching) {
    // The first two crossings along the step from the previous pass's values to the new ones,
    // as fractions of the step.
    for (int k = 0; k < FrictionRelationCount; ++k) {
      if (!(fs.zOld[k] * rh.z[k] < 0.0)) continue;
      const double theta = fs.zOld[k] / (fs.zOld[k] - rh.z[k]);
      if (theta < tMin) {
        if (theta < tMin - CrossingTolerance) tNext = tMin;
        tMin = theta;
      } else if (theta < tNext - CrossingTolerance && theta > tMin + CrossingTolerance) {
        tNext = theta;
      }
    }
  }

  if (tMin < 1.0 - MinimumStep) {
    // A crossing well inside the step: go just past the first one, then decide the Booleans
    // there.
    passChanged = 1;
    const double half = (tMin + tNext) / 2.0;
    const double step = half <= tMin + MinimumStep ? half : tMin + MinimumStep;
    if (modelRuntime.printFlags & PrintFlagEvents)
      print_labelled_real("Shorter attempt for mixed equation system", step);
    for (int i = 0; i < FrictionIterationVariableCount; ++i) {
      double& v = friction_iteration_variable(a, i);
      v = (v - fs.oldValues[i]) * step + fs.oldValues[i];
      fs.oldValues[i] = v;
    }
    sweep(a);
    return passChanged;
  }

  save_friction_iteration_variables(a, fs.oldValues);
  return passChanged;
}
