// Table interpolation, vector length and the smooth transition.
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "array_runtime_fixture.h"
#include "model/modelica_math.h"

namespace {

using InterpolationTest = ArrayRuntimeTest;

// A table of rows {u, y}, allocated in the buffers.
RealArray table(std::vector<std::pair<double, double>> rows) {
  RealArray t = RealMatrixAlloc(static_cast<int32_t>(rows.size()), 2);
  for (size_t i = 0; i < rows.size(); ++i) {
    t.data[2 * i] = rows[i].first;
    t.data[2 * i + 1] = rows[i].second;
  }
  return t;
}

TEST_F(InterpolationTest, InterpolatesAndExtendsBothEnds) {
  struct Case {
    std::vector<std::pair<double, double>> rows;
    double u;
    double expected;
  };
  const std::vector<Case> cases = {
      {{{0, 0.012}, {0.012, 0.012}}, 0, 0.012},
      {{{0, 0.012}, {0.012, 0.012}}, -5, 0.012},
      {{{0, 0.012}, {0.012, 0.012}}, 5, 0.012},
      {{{0, 1}, {1, 3}}, 0.5, 2},
      {{{0, 1}, {1, 3}}, 2, 5},
      {{{0, 1}, {1, 3}}, -1, -1},
      {{{0, 1}, {1, 3}, {2, 4}}, 1, 3},
      {{{0, 1}, {1, 3}, {2, 4}}, 1.5, 3.5},
      {{{0, 1}, {1, 3}, {2, 4}}, 3, 5},
      {{{0, 1}, {1, 3}, {2, 4}}, -1, -1},
      {{{2, 7}}, -100, 7},
      // A jump at an inner abscissa: u on it reads the row after the jump, u just below it the
      // interval before.
      {{{0, 0}, {1, 1}, {1, 5}, {2, 6}}, 1, 5},
      {{{0, 0}, {1, 1}, {1, 5}, {2, 6}}, 0.75, 0.75},
      {{{0, 0}, {1, 1}, {1, 5}, {2, 6}}, 1.5, 5.5},
      {{{2, 7}}, 100, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "u = " << c.u << ", rows " << c.rows.size());
    ResetMarks();
    RealArray t = table(c.rows);
    const MatrixMark before = currentMark;
    EXPECT_DOUBLE_EQ(Modelica::Math::tempInterpol1(c.u, t, 2), c.expected);
    // The call leaves the buffers and the function-name stack as it found them.
    EXPECT_EQ(std::memcmp(&currentMark, &before, sizeof before), 0);
    EXPECT_EQ(modelRuntime.functionStack, nullptr);
  }
}

TEST_F(InterpolationTest, EqualAbscissasReportDivisionByZeroWithStack) {
  RealArray t = table({{0, 0}, {0, 0}});
  FunctionFrame call{"Modelica.Math.tempInterpol1(0, armBearingFriction.tau_pos, 2)", nullptr};
  modelRuntime.functionStack = &call;
  EXPECT_EQ(raise([&] { Modelica::Math::tempInterpol1(0.25, t, 2); }),
            (Lines{"The following error was detected at time: 0.5\n",
                   "\nModel error - division by zero: ((y2-y1)*(u-u1)) / (u2-u1) = (0) / (0)\n\n",
                   "The stack of functions is:\n", "Modelica.Math.tempInterpol1\n",
                   "Modelica.Math.tempInterpol1(0, armBearingFriction.tau_pos, 2)\n"}));
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
}

// A jump at the first abscissa: u at or before it uses the first two rows, whose abscissas are
// equal, so only u after it interpolates.
TEST_F(InterpolationTest, JumpAtTheFirstAbscissaDividesByZeroAtAndBeforeIt) {
  RealArray t = table({{0, 0}, {0, 5}, {1, 6}});
  EXPECT_DOUBLE_EQ(Modelica::Math::tempInterpol1(0.5, t, 2), 5.5);
  EXPECT_DOUBLE_EQ(Modelica::Math::tempInterpol1(1.5, t, 2), 6.5);
  const struct {
    double u;
    const char* numerator;  // (u - u1)·(y2 - y1) as the report prints it
  } cases[] = {{0.0, "0"}, {-0.0, "-0"}, {-1.0, "-5"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.u);
    const std::string report = "\nModel error - division by zero: ((y2-y1)*(u-u1)) / (u2-u1) = (" +
                               std::string(c.numerator) + ") / (0)\n\n";
    EXPECT_EQ(raise([&] { Modelica::Math::tempInterpol1(c.u, t, 2); }),
              (Lines{"The following error was detected at time: 0.5\n", report,
                     "The stack of functions is:\n", "Modelica.Math.tempInterpol1\n"}));
  }
}

TEST_F(InterpolationTest, ColumnOutsideTableOrEmptyTableFailsBoundsCheck) {
  RealArray t = table({{0, 1}, {1, 3}});
  const Lines bounds = {"(j>=1)&&(j<=dim)\n", "The following error was detected at time: 0.5\n",
                        "Index out of bounds\n", "The stack of functions is:\n",
                        "Modelica.Math.tempInterpol1\n"};
  EXPECT_EQ(raise([&] { Modelica::Math::tempInterpol1(0.5, t, 3); }), bounds);
  RealArray empty = RealMatrixAlloc(0, 2);
  EXPECT_EQ(raise([&] { Modelica::Math::tempInterpol1(0.5, empty, 2); }), bounds);
}

// The friction section reads its two-row table directly; it must give the bits the translated
// function gives through the array runtime, at the table's abscissas and a step either side,
// beyond both ends, for signed zeros, NaN, infinities and arbitrary bit patterns, and raise the
// same report for equal abscissas.
TEST_F(InterpolationTest, TwoRowTableReadDirectlyGivesTheTranslatedFunctionsBits) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const std::vector<std::array<double, 4>> tables = {
      {0.0, 0.012, 0.012, 0.012},  // the arm's table: flat
      {0.0, 1.0, 1.0, 3.0},        {-2.0, 5.0, 3.0, -1.0},  {0.1, 0.3, 0.7, 0.2},
      {1e-300, 1.0, 2e-300, -1.0}, {-1e300, 1.0, 1e300, 2.0}, {0.0, 1.0, tiny, 2.0},
      {0.0, inf, 1.0, 1.0},        {0.0, 1.0, 1.0, -inf},    {-inf, 1.0, 0.0, 2.0},
      {0.0, 1.0, inf, 2.0},        {nan, 1.0, 1.0, 2.0},     {0.0, nan, 1.0, 2.0},
      {0.0, 1.0, nan, 2.0},        {0.0, 1.0, 1.0, nan},     {0.0, -0.0, 1.0, 0.0},
  };
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> near(-4.0, 4.0);
  for (const auto& rows : tables) {
    std::vector<double> us = {0.0, -0.0, inf, -inf, nan, -nan, 1e308, -1e308, tiny, -tiny};
    for (const double x : {rows[0], rows[2]}) {
      us.push_back(x);
      us.push_back(std::nextafter(x, -inf));
      us.push_back(std::nextafter(x, inf));
      us.push_back(-x);
    }
    for (int i = 0; i < 500; ++i) {
      us.push_back(near(random));
      us.push_back(std::bit_cast<double>(random()));
    }
    for (const double u : us) {
      SCOPED_TRACE(testing::Message() << "table {" << rows[0] << ", " << rows[1] << "; "
                                      << rows[2] << ", " << rows[3] << "}, u = " << u);
      ResetMarks();
      RealArray t = RealMatrixAlloc(2, 2);
      std::copy(rows.begin(), rows.end(), t.data);
      const MatrixMark before = currentMark;
      const double translated = Modelica::Math::tempInterpol1(u, t, 2);
      const double direct = Modelica::Math::tempInterpol1_two_rows(u, rows.data());
      // A NaN made from two NaNs takes the sign and payload of whichever operand the compiler
      // put first (it may swap a product's operands), so NaNs only need to be NaNs.
      if (!(std::isnan(direct) && std::isnan(translated))) {
        ASSERT_EQ(std::bit_cast<uint64_t>(direct), std::bit_cast<uint64_t>(translated));
      }
      EXPECT_EQ(std::memcmp(&currentMark, &before, sizeof before), 0);
      EXPECT_EQ(modelRuntime.functionStack, nullptr);
    }
  }
}

TEST_F(InterpolationTest, TwoRowTableWithEqualAbscissasRaisesTheTranslatedFunctionsReport) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::array<double, 4> rows;
    double u;
  };
  const std::vector<Case> cases = {
      {{0.0, 0.0, 0.0, 0.0}, 0.25},  {{0.0, 1.0, -0.0, 3.0}, 2.0},
      {{0.5, 1.0, 0.5, 3.0}, nan},   {{-1.0, 2.0, -1.0, 2.0}, -1.0},
  };
  FunctionFrame call{"Modelica.Math.tempInterpol1(armJoint.w, armBearingFriction.tau_pos, 2)",
                     nullptr};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "u1 = " << c.rows[0] << ", u = " << c.u);
    ResetMarks();
    RealArray t = RealMatrixAlloc(2, 2);
    std::copy(c.rows.begin(), c.rows.end(), t.data);
    modelRuntime.functionStack = &call;
    const Lines translated = raise([&] { Modelica::Math::tempInterpol1(c.u, t, 2); });
    modelRuntime.functionStack = &call;
    const Lines direct =
        raise([&] { Modelica::Math::tempInterpol1_two_rows(c.u, c.rows.data()); });
    EXPECT_EQ(direct, translated);
    EXPECT_EQ(direct.size(), 5u);
  }
}

TEST_F(InterpolationTest, VectorLength) {
  EXPECT_EQ(Modelica::Math::Vectors::length(RealVectorMake(2, 3.0, 4.0)), 5.0);
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Lines range = raise([&] { Modelica::Math::Vectors::length(RealVectorMake(1, nan)); });
  ASSERT_EQ(range.size(), 4u);
  EXPECT_EQ(range[1], "\nModel error - sqrt (v*v) = sqrt (nan)\n\n");
  EXPECT_EQ(range[3], "Modelica.Math.Vectors.length\n");
  Lines shape = raise([] { Modelica::Math::Vectors::length(RealMatrixAlloc(2, 2)); });
  ASSERT_GE(shape.size(), 3u);
  EXPECT_EQ(shape[0], "a.ndims==1\n");
}

TEST(SmoothTransition, Step) {
  EXPECT_EQ(smooth_step(0, 1), 0.5);
  EXPECT_EQ(smooth_step(-1, 1), 0.0);
  EXPECT_EQ(smooth_step(1, 1), 1.0);
  EXPECT_EQ(smooth_step(-0.1, 0), 0.0);
  EXPECT_EQ(smooth_step(0, 0), 0.0);
  EXPECT_EQ(smooth_step(0.1, 0), 1.0);
  EXPECT_EQ(smooth_step(0.5, -1), smooth_step(-0.5, 1));
  EXPECT_GT(smooth_step(0.5, 1), 0.5);
  EXPECT_LT(smooth_step(0.5, 1), 1.0);
}

TEST(SmoothTransition, DerivativeMatchesDifferenceQuotient) {
  // x = 0.3 + 2t, dx = 1 - 0.5t at t = 0.
  const double h = 1e-6;
  const double numeric =
      (smooth_step(0.3 + 2 * h, 1 - 0.5 * h) - smooth_step(0.3 - 2 * h, 1 + 0.5 * h)) / (2 * h);
  EXPECT_NEAR(smooth_step_der(0.3, 1, 2, -0.5), numeric, 1e-6);
  EXPECT_NEAR(smooth_step_der(-0.3, -1, -2, 0.5), numeric, 1e-6);
  EXPECT_EQ(smooth_step_der(2, 1, 5, 5), 0.0);
  EXPECT_EQ(smooth_step_der(-2, 1, 5, 5), 0.0);
}

TEST(SmoothTransition, SwitchedOffBranchDoesNotEnter) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(smooth_transition_der(1, 2, -3, 1, inf, 0.25, 1, 0), 0.25);
  EXPECT_EQ(smooth_transition_der(1, 2, 3, 1, 0.75, inf, 1, 0), 0.75);
  // Inside the transition: y*pos_der + (1 - y)*neg_der + y'*(pos - neg).
  const double y = smooth_step(0.2, 1);
  const double expected = y * 1 + (1 - y) * 3 + smooth_step_der(0.2, 1, 1, 0) * (5 - 2);
  EXPECT_EQ(smooth_transition_der(5, 2, 0.2, 1, 1, 3, 1, 0), expected);
}

}  // namespace
