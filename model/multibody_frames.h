// Translated Modelica functions of the model: frame orientations and rotations of the
// multibody library. Array results lie in the array buffers above the caller's release point
// and stay valid until the caller releases its temporaries or end_equation_reset runs.
#pragma once

#include "source/matrixop.h"

// An orientation: transformation matrix T (3 x 3) and angular velocity w (3), both views of
// data that lives elsewhere (as a rule slices of the model's auxiliaries).
struct RotationRecord {
  RealArray T;
  RealArray w;
};

RotationRecord make_rotation_record(RealArray T, RealArray w);
// The n x n integer identity matrix.
IntegerArray identity_integer_matrix(int n);

namespace Modelica::Mechanics::MultiBody::Frames {

namespace Quaternions {
// {0, 0, 0, 1}: the quaternion of no rotation (the scalar part is the fourth element).
RealArray nullRotation();
// The quaternion of the transformation matrix T, with the sign that points toward guess.
RealArray from_T(RealArray T, RealArray guess);
}  // namespace Quaternions

RealArray to_Q(RotationRecord R, RealArray guess);
// Three angles that rotate about the axes of sequence in turn into R.T; guessAngle1 picks
// between the two solutions for the first angle.
RealArray axesRotationsAngles(RotationRecord R, IntegerArray sequence, double guessAngle1);
// The angle about e that turns p into q.
double planarRotationAngle(RealArray e, RealArray p, RealArray q);

namespace TransformationMatrices {
// The rotation by angle about the axis e.
RealArray planarRotation(RealArray e, double angle);
// transpose(T)*x.
RealArray resolve1(RealArray T, RealArray x);
// T*x.
RealArray resolve2(RealArray T, RealArray x);
}  // namespace TransformationMatrices

}  // namespace Modelica::Mechanics::MultiBody::Frames
