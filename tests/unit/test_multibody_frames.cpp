// Frame orientations and rotations of the translated multibody functions.
#include <cmath>

#include "array_runtime_fixture.h"
#include "model/multibody_frames.h"

namespace {

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
  RealArray R = TM::planarRotation(vec(0, 0, 1), M_PI / 2);
  EXPECT_NEAR(RealArrayGet(R, 1, 2), 1.0, 1e-15);
  EXPECT_NEAR(RealArrayGet(R, 2, 1), -1.0, 1e-15);
  EXPECT_NEAR(Frames::planarRotationAngle(vec(0, 0, 1), vec(1, 0, 0), vec(0, 1, 0)), -M_PI / 2,
              1e-15);
  expect_near(values_of(TM::resolve2(TM::planarRotation(vec(0, 0, 1), -M_PI / 2), vec(1, 0, 0))),
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

TEST_F(FramesTest, IdentityIntegerMatrix) {
  IntegerArray id = identity_integer_matrix(2);
  EXPECT_EQ(std::vector<int32_t>(id.data, id.data + 4), (std::vector<int32_t>{1, 0, 0, 1}));
}

}  // namespace
