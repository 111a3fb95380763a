// Translated Modelica functions: frames and rotations.
//
// Each function runs in the frame of a translated function: it pushes its FunctionFrame, saves
// the array mark, allocates its outputs below the raised release point, releases the
// temporaries of each statement once its value is stored, and restores the mark and the
// function-name stack on return. A model error leaves both as they are; the model entry's
// reset clears them.
#include "model/multibody_frames.h"

#include <cmath>

#include "runtime/output.h"
#include "runtime/runtime_state.h"

namespace {

void push_frame(FunctionFrame& frame, const char* name) {
  frame.name = name;
  frame.next = modelRuntime.functionStack;
  modelRuntime.functionStack = &frame;
}

void pop_frame(const FunctionFrame& frame) { modelRuntime.functionStack = frame.next; }

// An output array of the function: allocated, kept above the saved place, cleared.
RealArray output_vector(MatrixMark& saved, int32_t n) {
  RealArray out = RealArrayAlloc(1, n);
  saved.place = PushMarkPlace();
  return RealArrayFill(out, 0.0);
}

RealArray output_matrix(MatrixMark& saved, int32_t n, int32_t m) {
  RealArray out = RealArrayAlloc(2, n, m);
  saved.place = PushMarkPlace();
  return RealArrayFill(out, 0.0);
}

// A local array of the function: allocated and kept above the release point, cleared.
RealArray local_vector(int32_t n) {
  RealArray local = RealArrayAlloc(1, n);
  PushMark();
  return RealArrayFill(local, 0.0);
}

RealArray local_matrix(int32_t n, int32_t m) {
  RealArray local = RealArrayAlloc(2, n, m);
  PushMark();
  return RealArrayFill(local, 0.0);
}

constexpr double unitX[3] = {1, 0, 0};
constexpr double unitY[3] = {0, 1, 0};
constexpr double unitZ[3] = {0, 0, 1};
constexpr double nullQuaternion[4] = {0, 0, 0, 1};

// The unit vector of an axis: 1 the x axis, 2 the y axis, any other value the z axis.
RealArray axis_vector(int32_t axis) {
  const double* v = axis == 1 ? unitX : axis == 2 ? unitY : unitZ;
  return RealArrayFromInteger(IntegerArrayFromReal(v, 1, 3));
}

// numerator / paux4, raising the division-by-zero error when paux4 is 0.
double over_paux4(double numerator, const char* numeratorText, double paux4) {
  if (paux4 == 0) model_division_by_zero(numeratorText, numerator, "paux4", paux4);
  return numerator / paux4;
}

// 0.5*sqrt(c), raising the range error (with the name of c) for a negative or NaN c.
double half_root(double c, const char* name) {
  if (!(c >= 0)) model_range_error(name, c, "sqrt");
  return 0.5 * std::sqrt(c);
}

}  // namespace

RotationRecord make_rotation_record(RealArray T, RealArray w) { return RotationRecord{T, w}; }

IntegerArray identity_integer_matrix(int n) { return IntegerIdentity(n); }

namespace Modelica::Mechanics::MultiBody::Frames {

namespace Quaternions {

RealArray nullRotation() {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.Quaternions.nullRotation");
  MatrixMark saved = PushMark();
  RealArray Q = output_vector(saved, 4);

  RealArrayAssign(Q, RealArrayWrap(const_cast<double*>(nullQuaternion), 1, 4));
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return Q;
}

RealArray from_T(RealArray T, RealArray guess) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.Quaternions.from_T");
  MatrixMark saved = PushMark();
  RealArray Q = output_vector(saved, 4);

  const double limit = 4 * 0.1 * 0.1;
  const double T11 = RealArrayGet(T, 1, 1), T22 = RealArrayGet(T, 2, 2),
               T33 = RealArrayGet(T, 3, 3);
  const double c1 = ((T11 + 1) - T22) - T33;
  const double c2 = ((T22 + 1) - T11) - T33;
  const double c3 = ((T33 + 1) - T11) - T22;
  const double c4 = ((T11 + 1) + T22) + T33;

  auto t = [&](int32_t i, int32_t j) { return RealArrayGet(T, i, j); };
  double q1, q2, q3, q4;
  if (c4 > limit || (c1 < c4 && c2 < c4 && c3 < c4)) {
    const double paux = half_root(c4, "c4");
    const double paux4 = 4 * paux;
    const double a = over_paux4(t(1, 2) - t(2, 1), "T[1, 2]-T[2, 1]", paux4);
    const double b = over_paux4(t(3, 1) - t(1, 3), "T[3, 1]-T[1, 3]", paux4);
    const double c = over_paux4(t(2, 3) - t(3, 2), "T[2, 3]-T[3, 2]", paux4);
    q1 = c, q2 = b, q3 = a, q4 = paux;
  } else if (c2 < c1 && c3 < c1 && c4 < c1) {
    const double paux = half_root(c1, "c1");
    const double paux4 = 4 * paux;
    const double a = over_paux4(t(2, 3) - t(3, 2), "T[2, 3]-T[3, 2]", paux4);
    const double b = over_paux4(t(1, 3) + t(3, 1), "T[1, 3]+T[3, 1]", paux4);
    const double c = over_paux4(t(1, 2) + t(2, 1), "T[1, 2]+T[2, 1]", paux4);
    q1 = paux, q2 = c, q3 = b, q4 = a;
  } else if (c1 < c2 && c3 < c2 && c4 < c2) {
    const double paux = half_root(c2, "c2");
    const double paux4 = 4 * paux;
    const double a = over_paux4(t(3, 1) - t(1, 3), "T[3, 1]-T[1, 3]", paux4);
    const double b = over_paux4(t(2, 3) + t(3, 2), "T[2, 3]+T[3, 2]", paux4);
    const double c = over_paux4(t(1, 2) + t(2, 1), "T[1, 2]+T[2, 1]", paux4);
    q1 = c, q2 = paux, q3 = b, q4 = a;
  } else {
    const double paux = half_root(c3, "c3");
    const double paux4 = 4 * paux;
    const double a = over_paux4(t(1, 2) - t(2, 1), "T[1, 2]-T[2, 1]", paux4);
    const double b = over_paux4(t(2, 3) + t(3, 2), "T[2, 3]+T[3, 2]", paux4);
    const double c = over_paux4(t(1, 3) + t(3, 1), "T[1, 3]+T[3, 1]", paux4);
    q1 = c, q2 = b, q3 = paux, q4 = a;
  }
  RealArrayAssign(Q, RealVectorMake(4, q1, q2, q3, q4));
  ReleaseTemporaries();

  // Of the two quaternions of T, the one on the side of guess.
  if (RealScalarProduct(Q, guess) < 0) {
    RealArrayAssign(Q, RealArrayNegate(Q));
    ReleaseTemporaries();
  }

  PopMark(saved);
  pop_frame(frame);
  return Q;
}

}  // namespace Quaternions

RealArray to_Q(RotationRecord R, RealArray guess) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.to_Q");
  MatrixMark saved = PushMark();
  RealArray Q = output_vector(saved, 4);

  RealArrayAssign(Q, Quaternions::from_T(R.T, guess));
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return Q;
}

RealArray axesRotationsAngles(RotationRecord R, IntegerArray sequence, double guessAngle1) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.axesRotationsAngles");
  MatrixMark saved = PushMark();
  RealArray angles = output_vector(saved, 3);
  RealArray u1 = local_vector(3);
  RealArray u2 = local_vector(3);
  RealArray r3 = local_vector(3);
  RealArray u3 = local_vector(3);
  RealArray T1 = local_matrix(3, 3);
  double cA = 0, cB = 0, alpha = 0, beta = 0;

  RealArrayAssign(u1, axis_vector(sequence.data[0]));
  ReleaseTemporaries();
  RealArrayAssign(u2, axis_vector(sequence.data[1]));
  ReleaseTemporaries();
  RealArrayAssign(
      r3, RealArraySubscript(R.T, SubscriptScalar, sequence.data[2], SubscriptColon, SubscriptEnd));
  ReleaseTemporaries();
  RealArrayAssign(u3, axis_vector(sequence.data[2]));
  ReleaseTemporaries();

  cA = RealScalarProduct(u2, r3);
  ReleaseTemporaries();
  cB = RealScalarProduct(RealCross(u1, u2), r3);
  ReleaseTemporaries();

  if (std::fabs(cA) <= 1e-12 && std::fabs(cB) <= 1e-12) {
    RealArraySet(guessAngle1, angles, 1);
  } else {
    alpha = std::atan2(cA, -cB);
    beta = std::atan2(-cA, cB);
    RealArraySet(std::fabs(alpha - guessAngle1) <= std::fabs(beta - guessAngle1) ? alpha : beta,
                 angles, 1);
  }
  ReleaseTemporaries();

  RealArrayAssign(T1, TransformationMatrices::planarRotation(u1, RealArrayGet(angles, 1)));
  ReleaseTemporaries();
  RealArraySet(planarRotationAngle(u2, TransformationMatrices::resolve2(T1, r3), u3), angles, 2);
  ReleaseTemporaries();
  RealArraySet(
      planarRotationAngle(
          u3, u2, TransformationMatrices::resolve2(R.T, TransformationMatrices::resolve1(T1, u2))),
      angles, 3);
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return angles;
}

double planarRotationAngle(RealArray e, RealArray p, RealArray q) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.planarRotationAngle");
  const MatrixMark saved = PushMark();

  const double s = -RealScalarProduct(RealCross(e, p), q);
  ReleaseTemporaries();
  const double pq = RealScalarProduct(p, q);
  const double ep = RealScalarProduct(e, p);
  const double eq = RealScalarProduct(e, q);
  const double c = pq - ep * eq;
  ReleaseTemporaries();
  const double angle = std::atan2(s, c);
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return angle;
}

namespace TransformationMatrices {

RealArray planarRotation(RealArray e, double angle) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.TransformationMatrices.planarRotation");
  MatrixMark saved = PushMark();
  RealArray T = output_matrix(saved, 3, 3);

  // T := E + cos(angle)*(I - E) - sin(angle)*K with E = e*transpose(e), K = skew(e).
  const RealArray sinK = RealArrayScale(RealSkew(e), std::sin(angle));
  const RealArray E =
      RealMatMul(RealArrayPromote(e, 2), RealArrayTranspose(RealArrayPromote(e, 2)));
  const RealArray I = RealArrayFromInteger(identity_integer_matrix(3));
  const RealArray cosIE = RealArrayScale(RealArraySub(I, E), std::cos(angle));
  RealArrayAssign(T, RealArraySub(RealArrayAdd(E, cosIE), sinK));
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return T;
}

RealArray resolve1(RealArray T, RealArray x) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.TransformationMatrices.resolve1");
  MatrixMark saved = PushMark();
  RealArray out = output_vector(saved, 3);

  RealArrayAssign(out, RealMatVec(RealArrayTranspose(T), x));
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return out;
}

RealArray resolve2(RealArray T, RealArray x) {
  FunctionFrame frame;
  push_frame(frame, "Modelica.Mechanics.MultiBody.Frames.TransformationMatrices.resolve2");
  MatrixMark saved = PushMark();
  RealArray out = output_vector(saved, 3);

  RealArrayAssign(out, RealMatVec(T, x));
  ReleaseTemporaries();

  PopMark(saved);
  pop_frame(frame);
  return out;
}

}  // namespace TransformationMatrices

}  // namespace Modelica::Mechanics::MultiBody::Frames
