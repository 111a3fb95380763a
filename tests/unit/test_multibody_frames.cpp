// Frame orientations and rotations of the translated multibody functions.
#include <cmath>
#include <numbers>

#include "array_runtime_fixture.h"
#include "model/multibody_frames.h"

namespace {

constexpr double Pi = std::numbers::pi;

namespace Frames = Modelica::Mechanics::MultiBody::Frames;
namespace TM = Modelica::Mechanics::MultiBody::Frames::TransformationMatrices;
using FramesTest = ArrayRuntimeTest;
using Values = std::vector<double>;

// Storage the model would own: a 3 x 3 matrix and a 3-vector viewed through wrapped records.
struct Orientation {
  double T[9];
  double w[3] = {0, 0, 0};
  RotationRecord record() {
    return make_rotation_record(RealArrayWrap(T, 2, 3, 3), RealArrayWrap(w, 1, 3));
  }
};

Orientation orientation(Values t) {
  Orientation o;
  for (int k = 0; k < 9; ++k) o.T[k] = t[k];
  return o;
}

RealArray vec(double x, double y, double z) { return RealVectorMake(3, x, y, z); }
RealArray quat(double a, double b, double c, double d) { return RealVectorMake(4, a, b, c, d); }

void expect_near(const Values& actual, const Values& expected, double tol = 1e-15) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t k = 0; k < actual.size(); ++k) EXPECT_NEAR(actual[k], expected[k], tol) << "at " << k;
}

TEST_F(FramesTest, QuaternionBranches) {
  const double c = std::cos(0.5), s = std::sin(0.5);
  struct Case {
    const char* name;
    Values T;
    Values guess;
    Values Q;
  };
  const std::vector<Case> cases = {
      {"identity: c4", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}},
      {"half turn about x: c1", {1, 0, 0, 0, -1, 0, 0, 0, -1}, {0, 0, 0, 1}, {1, 0, 0, 0}},
      {"half turn about y: c2", {-1, 0, 0, 0, 1, 0, 0, 0, -1}, {0, 0, 0, 1}, {0, 1, 0, 0}},
      {"half turn about z: c3", {-1, 0, 0, 0, -1, 0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 1, 0}},
      {"0.5 about z",
       {c, s, 0, -s, c, 0, 0, 0, 1},
       {0, 0, 0, 1},
       {0, 0, std::sin(0.25), std::cos(0.25)}},
      {"0.5 about z, opposite guess",
       {c, s, 0, -s, c, 0, 0, 0, 1},
       {0, 0, 0, -1},
       {0, 0, -std::sin(0.25), -std::cos(0.25)}},
      {"half turn about x, guess toward -x",
       {1, 0, 0, 0, -1, 0, 0, 0, -1},
       {-1, 0, 0, 0},
       {-1, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ResetMarks();
    Orientation o = orientation(k.T);
    RealArray guess = quat(k.guess[0], k.guess[1], k.guess[2], k.guess[3]);
    RealArray Q = Frames::to_Q(o.record(), guess);
    expect_near(values_of(Q), k.Q);
    EXPECT_EQ(modelRuntime.functionStack, nullptr);
  }
}

// The model's call: a static frame with the call text, the result copied into a wrapped slice.
TEST_F(FramesTest, CallFromModelLeavesOnlyTheResult) {
  FunctionFrame call{"Modelica.Mechanics.MultiBody.Frames.to_Q(body.R_start, guess)", nullptr};
  modelRuntime.functionStack = &call;
  Orientation o = orientation({1, 0, 0, 0, 1, 0, 0, 0, 1});
  RotationRecord R = o.record();
  RealArray guess = Frames::Quaternions::nullRotation();
  EXPECT_EQ(values_of(guess), (Values{0, 0, 0, 1}));
  const MatrixMark before = currentMark;
  RealArray Q = Frames::to_Q(R, guess);
  EXPECT_EQ(Q.data, before.place.Realbuffer);
  EXPECT_EQ(currentMark.place.Realbuffer, before.place.Realbuffer + 4);
  EXPECT_EQ(currentMark.place.Sizebuffer, before.place.Sizebuffer + 1);
  EXPECT_EQ(currentMark.base.Realbuffer, before.base.Realbuffer);
  EXPECT_EQ(modelRuntime.functionStack, &call);
  double auxiliaries[4] = {};
  RealArrayAssign(RealArrayWrap(auxiliaries, 1, 4), Q);
  end_equation_reset();
  EXPECT_EQ(Values(auxiliaries, auxiliaries + 4), (Values{0, 0, 0, 1}));
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
}

TEST_F(FramesTest, TieEndsInC3BranchWithDivisionByZero) {
  FunctionFrame call{"to_Q(R, guess)", nullptr};
  modelRuntime.functionStack = &call;
  Orientation o = orientation({0, 1, 0, 1, 0, 0, 0, 0, -1});  // half turn about (1, 1, 0)/sqrt(2)
  RealArray guess = quat(0, 0, 0, 1);
  EXPECT_EQ(raise([&] { Frames::to_Q(o.record(), guess); }),
            (Lines{"The following error was detected at time: 0.5\n",
                   "\nModel error - division by zero: (T[1, 2]-T[2, 1]) / (paux4) = (0) / (0)\n\n",
                   "The stack of functions is:\n",
                   "Modelica.Mechanics.MultiBody.Frames.Quaternions.from_T\n",
                   "Modelica.Mechanics.MultiBody.Frames.to_Q\n", "to_Q(R, guess)\n"}));
}

TEST_F(FramesTest, NegativeChosenValueIsARangeError) {
  // diag(1, 1, -3): c1 = c2 = 4 tie, c4 = 0, so the c3 branch takes the root of c3 = -4.
  Orientation o = orientation({1, 0, 0, 0, 1, 0, 0, 0, -3});
  Lines lines = raise([&] { Frames::Quaternions::from_T(o.record().T, quat(0, 0, 0, 1)); });
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "\nModel error - sqrt (c3) = sqrt (-4)\n\n");
}

TEST_F(FramesTest, FromTChecksShapes) {
  RealArray T2 = RealArrayFill(RealMatrixAlloc(2, 2), 0.0);
  Lines lines = raise([&] { Frames::Quaternions::from_T(T2, quat(0, 0, 0, 1)); });
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "(j>=1)&&(j<=dim)\n");
}

TEST_F(FramesTest, PlanarRotationAndResolve) {
  RealArray I = TM::planarRotation(vec(0, 0.6, 0.8), 0.0);
  expect_near(values_of(I), {1, 0, 0, 0, 1, 0, 0, 0, 1});
  RealArray R = TM::planarRotation(vec(0, 0, 1), Pi / 2);
  EXPECT_NEAR(RealArrayGet(R, 1, 2), 1.0, 1e-15);
  EXPECT_NEAR(RealArrayGet(R, 2, 1), -1.0, 1e-15);
  EXPECT_NEAR(Frames::planarRotationAngle(vec(0, 0, 1), vec(1, 0, 0), vec(0, 1, 0)), -Pi / 2,
              1e-15);
  expect_near(values_of(TM::resolve2(TM::planarRotation(vec(0, 0, 1), -Pi / 2), vec(1, 0, 0))),
              {0, 1, 0});
  RealArray T = RealArrayFill(RealMatrixAlloc(3, 3), 0.0);
  for (int k = 0; k < 9; ++k) T.data[k] = k + 1;
  EXPECT_EQ(values_of(TM::resolve2(T, vec(1, 0, 0))), (Values{1, 4, 7}));
  EXPECT_EQ(values_of(TM::resolve1(T, vec(1, 0, 0))), (Values{1, 2, 3}));
}

TEST_F(FramesTest, AxesRotationsAnglesOfIdentityAndDegenerateRow) {
  const int32_t seq[3] = {1, 2, 3};
  int32_t seqDims[1] = {3};
  IntegerArray sequence{1, seqDims, const_cast<int32_t*>(seq)};
  Orientation id = orientation({1, 0, 0, 0, 1, 0, 0, 0, 1});
  const MatrixMark before = currentMark;
  RealArray a = Frames::axesRotationsAngles(id.record(), sequence, 0.0);
  EXPECT_EQ(values_of(a), (Values{0, 0, 0}));
  EXPECT_TRUE(std::signbit(a.data[0]));  // atan2(-0, 1)
  EXPECT_EQ(currentMark.place.Realbuffer, before.place.Realbuffer + 3);
  EXPECT_EQ(modelRuntime.functionStack, nullptr);

  for (double sign : {1.0, -1.0}) {
    Orientation o = orientation({0, 0, -sign, 0, 1, 0, sign, 0, 0});
    RealArray b = Frames::axesRotationsAngles(o.record(), sequence, 0.3);
    EXPECT_EQ(b.data[0], 0.3);
  }
}

// Angles built into a matrix by rotating about x, then y, then z come back out.
TEST_F(FramesTest, AxesRotationsAnglesRoundTrip) {
  const int32_t seq[3] = {1, 2, 3};
  int32_t seqDims[1] = {3};
  IntegerArray sequence{1, seqDims, const_cast<int32_t*>(seq)};
  const double a1 = 0.4, a2 = -0.7, a3 = 1.1;
  RealArray T = RealMatMul(
      TM::planarRotation(vec(0, 0, 1), a3),
      RealMatMul(TM::planarRotation(vec(0, 1, 0), a2), TM::planarRotation(vec(1, 0, 0), a1)));
  RotationRecord R = make_rotation_record(T, vec(0, 0, 0));
  expect_near(values_of(Frames::axesRotationsAngles(R, sequence, 0.3)), {a1, a2, a3}, 1e-12);
}

// c4 is compared strictly with 4*0.1*0.1 as computed in doubles, one unit above 0.04: a c4
// equal to it is not above the limit (diag(-1, limit, 0) then takes the c2 branch), the next
// double is (the c4 branch, although c2 is the largest).
TEST_F(FramesTest, QuaternionLimitIsFourTimesPointOneSquared) {
  volatile double tenth = 0.1;
  const double limit = 4 * tenth * tenth;
  ASSERT_GT(limit, 0.04);
  Orientation atLimit = orientation({-1, 0, 0, 0, limit, 0, 0, 0, 0});
  expect_near(values_of(Frames::Quaternions::from_T(atLimit.record().T, quat(0, 0, 0, 1))),
              {0, 0.5 * std::sqrt((limit + 1) + 1), 0, 0}, 0);
  const double above = std::nextafter(limit, 1.0);
  Orientation aboveLimit = orientation({-1, 0, 0, 0, above, 0, 0, 0, 0});
  expect_near(values_of(Frames::Quaternions::from_T(aboveLimit.record().T, quat(0, 0, 0, 1))),
              {0, 0, 0, 0.5 * std::sqrt(above)}, 0);
}

// The results are bit for bit those of the stated order of operations.
TEST_F(FramesTest, OrderOfOperationsIsExact) {
  const double e[3] = {0.48, 0.6, 0.64};
  const double angle = 0.7;
  const double c = std::cos(angle), s = std::sin(angle);
  const double K[9] = {0, -e[2], e[1], e[2], 0, -e[0], -e[1], e[0], 0};
  Values expected(9);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double E = 0.0 + e[i] * e[j];
      const double I = i == j ? 1.0 : 0.0;
      expected[3 * i + j] = (E + c * (I - E)) - s * K[3 * i + j];
    }
  RealArray T = TM::planarRotation(vec(e[0], e[1], e[2]), angle);
  EXPECT_EQ(values_of(T), expected);

  // from_T, c4 branch: the sums of the diagonal left to right from T[1,1] + 1.
  Values t = values_of(T);
  const double c4 = ((t[0] + 1) + t[4]) + t[8];
  const double paux = 0.5 * std::sqrt(c4), paux4 = 4 * paux;
  Orientation o = orientation(t);
  EXPECT_EQ(values_of(Frames::Quaternions::from_T(o.record().T, quat(0, 0, 0, 1))),
            (Values{(t[5] - t[7]) / paux4, (t[6] - t[2]) / paux4, (t[1] - t[3]) / paux4, paux}));

  // planarRotationAngle: s = -((e x p).q), c = p.q - (e.p)*(e.q).
  const double p[3] = {0.3, -1.7, 0.9}, q[3] = {1.1, 0.2, -0.4};
  const double ep[3] = {e[1] * p[2] - e[2] * p[1], e[2] * p[0] - e[0] * p[2],
                        e[0] * p[1] - e[1] * p[0]};
  auto dot = [](const double* x, const double* y) {
    return ((0.0 + x[0] * y[0]) + x[1] * y[1]) + x[2] * y[2];
  };
  const double sa = -dot(ep, q), ca = dot(p, q) - dot(e, p) * dot(e, q);
  EXPECT_EQ(Frames::planarRotationAngle(vec(e[0], e[1], e[2]), vec(p[0], p[1], p[2]),
                                        vec(q[0], q[1], q[2])),
            std::atan2(sa, ca));
}

TEST_F(FramesTest, IdentityIntegerMatrix) {
  IntegerArray id = identity_integer_matrix(2);
  EXPECT_EQ(std::vector<int32_t>(id.data, id.data + 4), (std::vector<int32_t>{1, 0, 0, 1}));
}

}  // namespace
