// The initial section: the initial equations (guess values of the start state) and the save
// and restore of the six discrete friction values.
#include "model/body_sections.h"
#include "model/friction_system.h"
#include "model/pre_values.h"

namespace {

namespace fp = friction_position;

// Row `row` (0-based) of a row-major 3 x 3 matrix times a vector, summed left to right.
double row_times(const double* matrix, int row, const double* v) {
  const double* r = matrix + 3 * row;
  return r[0] * v[0] + r[1] * v[1] + r[2] * v[2];
}

// The six discrete values in the order they are saved.
constexpr int discretePositions[DiscreteCount] = {
    fp::ArmMode,      fp::ArmStartBackward,      fp::ArmStartForward,
    fp::PendulumMode, fp::PendulumStartBackward, fp::PendulumStartForward,
};

}  // namespace

void initial_equations(const ModelEntryArguments& a) {
  double* w = a.auxiliaries;
  double* F = a.derivatives;
  const double* armRStart = &w[1123];       // arm.body.R_start.T, row-major
  const double* pendulumRStart = &w[1419];  // pendulum.body.R_start.T, row-major
  const double* armW0 = &w[1094];           // arm.body.w_0_start
  const double* armZ0 = &w[1098];           // arm.body.z_0_start
  const double* pendulumW0 = &w[1390];      // pendulum.body.w_0_start
  const double* pendulumZ0 = &w[1394];      // pendulum.body.z_0_start

  w[1004] = row_times(armRStart, 1, armW0);            // arm.frameTranslation.frame_a.R.w[2]
  w[1362] = row_times(pendulumRStart, 0, pendulumW0);  // pendulum.body.frame_a.R.w[1..3]
  w[1363] = row_times(pendulumRStart, 1, pendulumW0);
  w[1364] = row_times(pendulumRStart, 2, pendulumW0);
  w[1434] = row_times(pendulumRStart, 1, pendulumZ0);  // pendulum.body.der(w_a[2])
  w[1435] = row_times(pendulumRStart, 2, pendulumZ0);  // pendulum.body.der(w_a[3])
  F[1] = row_times(armRStart, 1, armZ0);               // armJoint.der(w)
  F[3] = row_times(pendulumRStart, 0, pendulumZ0);     // pendulumJoint.der(w)
}

void save_discrete_values(const ModelEntryArguments& a) {
  for (int i = 0; i < DiscreteCount; ++i) discreteSave[i] = a.auxiliaries[discretePositions[i]];
}

void restore_discrete_values(const ModelEntryArguments& a) {
  for (int i = 0; i < DiscreteCount; ++i) a.auxiliaries[discretePositions[i]] = discreteSave[i];
}
