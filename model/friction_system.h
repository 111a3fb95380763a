// The friction mixed system of the two bearings: its process-wide state, the positions of the
// friction variables that the level-2 and level-3 sections share, and the relation procedure
// and Boolean sweeps that every pass of its fixed-point iteration runs.
#pragma once

#include <cstdint>

#include "model/dsblock.h"
#include "runtime/linsys.h"

// Positions in the auxiliaries array.
namespace friction_position {
constexpr int ArmTauPos = 1729;         // armBearingFriction.tau_pos, 2 x 2, row-major
constexpr int ArmTau0 = 1733;           // armBearingFriction.tau0
constexpr int ArmTau0Max = 1734;        // armBearingFriction.tau0_max
constexpr int ArmSa = 1736;             // armBearingFriction.sa
constexpr int ArmStartForward = 1737;   // armBearingFriction.startForward
constexpr int ArmStartBackward = 1738;  // armBearingFriction.startBackward
constexpr int ArmLocked = 1739;         // armBearingFriction.locked
constexpr int ArmMode = 1745;           // armBearingFriction.mode
constexpr int PendulumTau = 1752;       // pendulumBearingFriction.tau_pos[1, 2] (its tau0)
constexpr int PendulumTau0Max = 1753;   // pendulumBearingFriction.tau0_max
constexpr int PendulumSa = 1755;        // pendulumBearingFriction.sa
constexpr int PendulumStartForward = 1756;
constexpr int PendulumStartBackward = 1757;
constexpr int PendulumLocked = 1758;
constexpr int PendulumMode = 1764;  // pendulumBearingFriction.mode
}  // namespace friction_position

// The friction modes, compared exactly with the stored doubles.
constexpr double ModeForward = 1.0;
constexpr double ModeStuck = 0.0;
constexpr double ModeBackward = -1.0;
constexpr double ModeFree = 2.0;
constexpr double ModeUnknown = 3.0;

constexpr int FrictionSystemSize = 2;
constexpr int FrictionRelationCount = 16;
// Variables that the step shortening interpolates between two passes.
constexpr int FrictionIterationVariableCount = 21;
// At most this many passes of the fixed-point iteration per evaluation.
constexpr int FrictionPassLimit = 13;

// Zero at load and never reset: it carries over from one pass and one call to the next.
struct FrictionSystemState {
  double A[FrictionSystemSize * FrictionSystemSize];  // column-major
  double b[FrictionSystemSize];        // right-hand side; after the solve, the correction
  double iterate[FrictionSystemSize];  // (pendulumBearingFriction.sa, armBearingFriction.sa)
  double work[linsys_work_size(FrictionSystemSize)];
  int iwork[linsys_iwork_size(FrictionSystemSize)];
  int factorState;        // cleared before every solve: every pass factorises anew
  int errorWord;          // 1 after a rejected solve
  int32_t solverProblem;  // nonzero errorWord of the latest solve; cleared at every pass
  double oldValues[FrictionIterationVariableCount];  // the iteration variables of the last pass
  double zOld[FrictionRelationCount];                // relation differences before a pass
};

extern FrictionSystemState frictionSystem;

// Relation k (0-based) of the friction Booleans: recomputes its difference, scale and crossing
// values and, at events, its value through event_relation; returns the value.
bool friction_relation(const ModelEntryArguments& a, int k);

// The Boolean work of pass `pass` of the fixed-point iteration: sweeps over the six Booleans
// and, at events, shortens the step to just past the first relation that the pass crossed.
// Returns 1 when a Boolean changed or the step was shortened, else 0.
int friction_boolean_pass(const ModelEntryArguments& a, int pass);

// The iteration variables in the order the step shortening walks them.
double& friction_iteration_variable(const ModelEntryArguments& a, int slot);
// Copies all the iteration variables, in that order.
void save_friction_iteration_variables(const ModelEntryArguments& a,
                                       double (&values)[FrictionIterationVariableCount]);
