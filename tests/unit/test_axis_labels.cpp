// The world's axis-label geometry, driven by world.scaledLabel alone: lengths and unit vectors
// of the seven label cylinders, their signed zeros, the vanishing-length branches and the two
// guards that a NaN or an infinite scale fails.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dsblock_fixture.h"
#include "model/body_sections.h"
#include "model/variable_table.h"

namespace {

constexpr double Unwritten = -777.0;
constexpr double Inf = std::numeric_limits<double>::infinity();

// world.scaledLabel as the parameter section computes it from the start values:
// 3 * (world.axisLength / world.defaultFrameDiameterFraction).
const double DefaultScale = 3.0 * (0.5 / 40.0);

int position(const std::string& name) {
  const VariableRecord* record = find_variable(name.c_str());
  EXPECT_NE(record, nullptr) << name;
  if (record == nullptr) return 0;
  EXPECT_EQ(record_kind(*record), KindAuxiliary) << name;
  return variable_position(record);
}

// Expected value of a result, by name. A zero is compared with its sign.
struct Value {
  std::string name;
  double expected;
};

class AxisLabels : public ModelEntryTest {
 protected:
  // Runs the block on a scale; every other auxiliary holds Unwritten.
  void run(double s) {
    for (double& v : w) v = Unwritten;
    w[56] = s;
    int32_t demand = DemandInitialize;
    int32_t QiErr = 0;
    axis_label_geometry(args(&demand, &QiErr));
  }
  double value(const std::string& name) { return w[position(name)]; }

  // Compares each value: to 15 significant digits for the rounded ones, exactly with its sign
  // for zeros and the other exact ones.
  void expect(const std::vector<Value>& values, bool exact) {
    for (const Value& v : values) {
      const double got = value(v.name);
      if (exact || v.expected == 0.0) {
        EXPECT_EQ(got, v.expected) << v.name;
        EXPECT_EQ(std::signbit(got), std::signbit(v.expected)) << v.name << " = " << got;
      } else {
        EXPECT_NEAR(got, v.expected, 1e-15 * std::fabs(v.expected)) << v.name;
      }
    }
  }
};

const std::string X1 = "world.x_label.cylinders[1].";
const std::string X2 = "world.x_label.cylinders[2].";
const std::string Y1 = "world.y_label.cylinders[1].";
const std::string Y2 = "world.y_label.cylinders[2].";
const std::string Z1 = "world.z_label.cylinders[1].";
const std::string Z2 = "world.z_label.cylinders[2].";
const std::string Z3 = "world.z_label.cylinders[3].";

// The 51 results: per cylinder length, abs_n_x, the computed e_x and e_y components; and the
// y letter's coordinates.
std::vector<std::string> result_names() {
  std::vector<std::string> names = {
      "world.y_label.lines[2, 1, 2]", "world.y_label.lines[2, 2, 2]",
      Y1 + "lengthDirection[1]", Y2 + "lengthDirection[1]", Y2 + "lengthDirection[2]"};
  for (const std::string& c : {X1, X2, Y1, Y2})
    for (const char* v : {"length", "abs_n_x", "e_x[1]", "e_x[2]", "e_y[1]", "e_y[2]"})
      names.push_back(c + v);
  for (const std::string& c : {Z1, Z2, Z3})
    for (const char* v : {"length", "abs_n_x", "e_x[1]", "e_x[3]", "e_y[1]", "e_y[2]", "e_y[3]"})
      names.push_back(c + v);
  names.push_back(Z3 + "e_x[2]");
  return names;
}

TEST_F(AxisLabels, WritesExactlyItsResults) {
  run(DefaultScale);
  std::vector<bool> result(w.size(), false);
  for (const std::string& name : result_names()) result[position(name)] = true;
  int written = 0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    if (k == 56) continue;
    const bool changed = w[k] != Unwritten;
    EXPECT_EQ(changed, result[k]) << "w[" << k << "]";
    written += changed;
  }
  EXPECT_EQ(written, 51);
}

TEST_F(AxisLabels, DefaultScale) {
  const double r = 0.707106781186548, p = 0.832050294337844, q = 0.554700196225229;
  run(DefaultScale);
  expect({{X1 + "length", 0.0530330085889911}, {X1 + "abs_n_x", 0.0530330085889911},
          {X2 + "length", 0.0530330085889911}, {X2 + "abs_n_x", 0.0530330085889911},
          {Z3 + "length", 0.0530330085889911}, {Z3 + "abs_n_x", 0.0530330085889911},
          {Y1 + "length", 0.0676040864149498}, {Y1 + "abs_n_x", 0.0676040864149498},
          {Y2 + "length", 0.0338020432074749}, {Y2 + "abs_n_x", 0.0338020432074749},
          {Z1 + "length", 0.0375},             {Z2 + "abs_n_x", 0.0375},
          {X1 + "e_x[1]", r},  {X1 + "e_x[2]", r},  {X1 + "e_y[1]", -r}, {X1 + "e_y[2]", r},
          {X2 + "e_x[1]", r},  {X2 + "e_x[2]", -r}, {X2 + "e_y[1]", r},  {X2 + "e_y[2]", r},
          {Y1 + "e_x[1]", -p}, {Y1 + "e_x[2]", q},  {Y1 + "e_y[1]", q},  {Y1 + "e_y[2]", p},
          {Y2 + "e_x[1]", p},  {Y2 + "e_x[2]", q},  {Y2 + "e_y[1]", -q}, {Y2 + "e_y[2]", p},
          {Z1 + "e_x[1]", 0.0}, {Z1 + "e_x[3]", 1.0},
          {Z1 + "e_y[1]", 0.0}, {Z1 + "e_y[2]", 1.0}, {Z1 + "e_y[3]", -0.0},
          {Z2 + "e_x[1]", 0.0}, {Z2 + "e_x[3]", 1.0},
          {Z2 + "e_y[1]", 0.0}, {Z2 + "e_y[2]", 1.0}, {Z2 + "e_y[3]", -0.0},
          {Z3 + "e_x[1]", 0.0}, {Z3 + "e_x[2]", -r}, {Z3 + "e_x[3]", r},
          {Z3 + "e_y[1]", 0.0}, {Z3 + "e_y[2]", r},  {Z3 + "e_y[3]", r},
          {Y1 + "lengthDirection[1]", -0.05625}, {Y2 + "lengthDirection[1]", 0.028125},
          {Y2 + "lengthDirection[2]", 0.01875},  {"world.y_label.lines[2, 1, 2]", 0.05625},
          {"world.y_label.lines[2, 2, 2]", 0.028125}},
         false);
  // To the bit: the roots are of the sums of squares (2*s*s, not s*sqrt(2), which differs in
  // the last bit here), and each e_x is its component divided by that root.
  expect({{X1 + "length", 0x1.b27247aff1490p-5},
          {Y1 + "length", 0x1.14e805c3a692cp-4},
          {Z1 + "length", DefaultScale},
          {X1 + "e_x[1]", 0x1.6a09e667f3bcdp-1},
          {Y1 + "e_x[2]", DefaultScale / 0x1.14e805c3a692cp-4}},
         true);
}

TEST_F(AxisLabels, NegativeScaleTurnsTheStrokesButNotTheirWidthDirection) {
  const double r = 0.707106781186548;
  run(-DefaultScale);
  expect({{X1 + "length", 0.0530330085889911},
          {X1 + "e_x[1]", -r}, {X1 + "e_x[2]", -r}, {X1 + "e_y[1]", -r}, {X1 + "e_y[2]", r}},
         false);
}

// Below a length of 1e-10 a cylinder points along (1, 0, 0) without a division; from 1e-10 on
// its direction is divided out. The z strokes have exactly the length |s|.
TEST_F(AxisLabels, VanishingLengthThreshold) {
  struct Case {
    double s;
    double ex1, ex3;  // of the z strokes
  };
  const Case cases[] = {
      {1e-10, 0.0, 1.0},
      {std::nextafter(1e-10, 0.0), 1.0, 0.0},
      {-1e-10, 0.0, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "s = " << c.s);
    run(c.s);
    expect({{Z1 + "length", std::fabs(c.s)}, {Z1 + "e_x[1]", c.ex1}, {Z1 + "e_x[3]", c.ex3},
            {Z2 + "e_x[1]", c.ex1}, {Z2 + "e_x[3]", c.ex3}},
           true);
  }
}

// A scale of 0 (or one whose square underflows): every length is 0 and every cylinder points
// along (1, 0, 0); e_y keeps the signs of the products it is made of.
TEST_F(AxisLabels, ZeroScale) {
  for (double s : {0.0, 1e-300}) {
    SCOPED_TRACE(testing::Message() << "s = " << s);
    run(s);
    std::vector<Value> values;
    for (const std::string& c : {X1, X2, Y1, Y2}) {
      values.insert(values.end(), {{c + "length", 0.0}, {c + "abs_n_x", 0.0}, {c + "e_x[1]", 1.0},
                                   {c + "e_x[2]", 0.0}, {c + "e_y[1]", -0.0}, {c + "e_y[2]", 1.0}});
    }
    for (const std::string& c : {Z1, Z2, Z3}) {
      values.insert(values.end(), {{c + "length", 0.0}, {c + "e_x[1]", 1.0}, {c + "e_x[3]", 0.0},
                                   {c + "e_y[1]", 0.0}, {c + "e_y[2]", 1.0}, {c + "e_y[3]", -0.0}});
    }
    values.push_back({Z3 + "e_x[2]", 0.0});
    expect(values, true);
  }
}

// The y letter's coordinates at a zero scale of either sign (an infinite frame diameter
// fraction of either sign): each zero has the sign of the product or difference it comes from.
TEST_F(AxisLabels, YLetterCoordinatesKeepTheSignOfZero) {
  struct Case {
    double s;
    double y1Direction1, y2Direction1, y2Direction2, lines212, lines222;
  };
  const Case cases[] = {
      {0.0, -0.0, -0.0, 0.0, 0.0, 0.0},
      {-0.0, 0.0, -0.0, -0.0, -0.0, -0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "s = " << (std::signbit(c.s) ? "-0" : "0"));
    run(c.s);
    expect({{Y1 + "lengthDirection[1]", c.y1Direction1},
            {Y2 + "lengthDirection[1]", c.y2Direction1},
            {Y2 + "lengthDirection[2]", c.y2Direction2},
            {"world.y_label.lines[2, 1, 2]", c.lines212},
            {"world.y_label.lines[2, 2, 2]", c.lines222}},
           true);
  }
}

// A scale whose square overflows: every root is infinite, so every e_x is a zero and the
// selection falls back to (1, 0, 0); |u| is 0, so the normalisation scales instead of dividing
// (no division by zero is reported), and the zeros keep the signs of their products.
TEST_F(AxisLabels, OverflowingScaleNeedsNoGuard) {
  run(1e200);
  expect({{X1 + "length", Inf},    {X1 + "e_x[1]", 0.0},  {X1 + "e_x[2]", 0.0},
          {X1 + "e_y[1]", -0.0},   {X1 + "e_y[2]", 0.0},
          {X2 + "e_x[1]", 0.0},    {X2 + "e_x[2]", -0.0}, {X2 + "e_y[1]", 0.0},
          {X2 + "e_y[2]", 0.0},
          {Y1 + "e_x[1]", -0.0},   {Y1 + "e_x[2]", 0.0},  {Y1 + "e_y[1]", 0.0},
          {Y1 + "e_y[2]", 0.0},
          {Y2 + "abs_n_x", Inf},   {Y2 + "e_x[1]", 0.0},  {Y2 + "e_x[2]", 0.0},
          {Y2 + "e_y[1]", -0.0},   {Y2 + "e_y[2]", 0.0},
          {Z1 + "length", Inf},    {Z1 + "e_x[1]", 0.0},  {Z1 + "e_x[3]", 0.0},
          {Z1 + "e_y[1]", 0.0},    {Z1 + "e_y[2]", 0.0},  {Z1 + "e_y[3]", -0.0},
          {Z3 + "e_x[1]", 0.0},    {Z3 + "e_x[2]", -0.0}, {Z3 + "e_x[3]", 0.0},
          {Z3 + "e_y[1]", 0.0},    {Z3 + "e_y[2]", 0.0},  {Z3 + "e_y[3]", 0.0}},
         true);
}

class AxisLabelGuards : public AxisLabels {
 protected:
  void SetUp() override {
    AxisLabels::SetUp();
    modelRuntime.time = 0.0;
  }
  // Runs the block on a scale that must fail a guard; returns the logged lines.
  std::vector<std::string> fail(double s) {
    EXPECT_TRUE(raises_model_error([&] { run(s); })) << "no model error";
    return log.texts();
  }
  LogCapture log;
};

TEST_F(AxisLabelGuards, NaNScaleFailsTheFirstRoot) {
  EXPECT_EQ(fail(NaN),
            (std::vector<std::string>{
                "The following error was detected at time: 0\n",
                "\nModel error - sqrt (2*world.scaledLabel*world.scaledLabel) = sqrt (nan)\n\n"}));
  EXPECT_EQ(value(X1 + "length"), Unwritten);
}

// An infinite scale gives infinite lengths and NaN directions (no report of their own); the
// root of |u|^2 then fails, with its text cut at 400 characters.
TEST_F(AxisLabelGuards, InfiniteScaleFailsTheNormalisationRoot) {
  const std::string root =
      "(world.x_label.cylinders[1].e_x[1]*(if world.x_label.cylinders[1].e_x[1]*world.x_label."
      "cylinders[1].e_x[1] > 1E-006 then 1 else (if abs(world.x_label.cylinders[1].e_x[1]) > "
      "1E-006 then 1 else 0))-world.x_label.cylinders[1].e_x[2]*(if world.x_label.cylinders[1]."
      "e_x[1]*world.x_label.cylinders[1].e_x[1] > 1E-006 then 0 else (if abs(world.x_label."
      "cylinders[1].e_x[1]) > 1E-006 then 0 else 1)))*(worl...";
  ASSERT_EQ(root.size(), 400u);
  std::vector<std::string> lines = fail(Inf);
  // inf / inf gives the processor's default NaN, whose sign bit may be set.
  if (lines.size() == 2) {
    const std::size_t at = lines[1].rfind("(-nan)");
    if (at != std::string::npos) lines[1].replace(at, 6, "(nan)");
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                           "The following error was detected at time: 0\n",
                           "\nModel error - sqrt (" + root + ") = sqrt (nan)\n\n"}));
  EXPECT_EQ(value(X1 + "length"), Inf);
  EXPECT_EQ(value(X1 + "abs_n_x"), Inf);
  EXPECT_TRUE(std::isnan(value(X1 + "e_x[1]")));
  EXPECT_TRUE(std::isnan(value(X1 + "e_x[2]")));
  EXPECT_EQ(value(X1 + "e_y[1]"), Unwritten);
  EXPECT_EQ(value(X2 + "length"), Unwritten);
}

}  // namespace
