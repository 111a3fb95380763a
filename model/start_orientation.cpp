// The start orientation of a body: rotation matrix, quaternion and potential angle states.
#include "model/start_orientation.h"

#include <array>
#include <cmath>

#include "model/call_frame.h"
#include "model/multibody_frames.h"
#include "source/matrixop.h"

namespace {

namespace Frames = Modelica::Mechanics::MultiBody::Frames;

using Matrix3 = std::array<double, 9>;  // row-major

// The elementary rotation by angle about an axis given as a number: exactly 1 is x, exactly 2
// is y, any other value (0, 3, 2.5, NaN, ...) is z. The axis is compared as a double, never
// converted.
Matrix3 elementary_rotation(double axis, double angle) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  if (axis == 1.0) return {1, 0, 0, 0, c, s, 0, -s, c};
  if (axis == 2.0) return {c, 0, -s, 0, 1, 0, s, 0, c};
  return {c, s, 0, -s, c, 0, 0, 0, 1};
}

// a * b, each element summed from the left.
Matrix3 product(const Matrix3& a, const Matrix3& b) {
  Matrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      r[3 * i + k] = (a[3 * i] * b[k] + a[3 * i + 1] * b[3 + k]) + a[3 * i + 2] * b[6 + k];
  return r;
}

RotationRecord start_rotation_record(double* w, const StartOrientationMember& body) {
  const RealArray Rw = RealArrayWrap(w + body.angularVelocity, 1, 3);
  const RealArray RT = RealArrayWrap(w + body.rotation, 2, 3, 3);
  return make_rotation_record(RT, Rw);
}

}  // namespace

void body_start_rotation(double* w, const StartOrientationMember& body) {
  const double* axis = w + body.sequenceStart;
  const double* angle = w + body.anglesStart;
  const Matrix3 R1 = elementary_rotation(axis[0], angle[0]);
  const Matrix3 R2 = elementary_rotation(axis[1], angle[1]);
  const Matrix3 R3 = elementary_rotation(axis[2], angle[2]);
  const Matrix3 T = product(product(R3, R2), R1);
  for (int k = 0; k < 9; ++k) w[body.rotation + k] = T[k];
}

void body_start_quaternion_and_angles(double* w, const StartOrientationMember& body) {
  push_call_text(body.quaternionCall);
  const RealArray guess = Frames::Quaternions::nullRotation();
  const RealArray Q = Frames::to_Q(start_rotation_record(w, body), guess);
  RealArrayAssign(RealArrayWrap(w + body.quaternion, 1, 4), Q);
  end_equation_reset();

  // Equal as doubles: -0 equals 0, a NaN equals nothing.
  const double* start = w + body.sequenceStart;
  const double* states = w + body.sequenceAngleStates;
  const bool sameSequence = states[0] == start[0] && states[1] == start[1] && states[2] == start[2];
  RealArray angles;
  if (sameSequence) {
    angles = RealArrayWrap(w + body.anglesStart, 1, 3);
  } else {
    push_call_text(body.angleCall);
    const IntegerArray sequence = IntegerArrayFromReal(states, 1, 3);  // truncated, NaN 0
    angles = Frames::axesRotationsAngles(start_rotation_record(w, body), sequence, 0.0);
  }
  RealArrayAssign(RealArrayWrap(w + body.angleStates, 1, 3), angles);
  end_equation_reset();
}
