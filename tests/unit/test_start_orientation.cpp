// The start orientation of a body for rotation sequences the model's constant bindings never
// give: how an axis value selects its elementary rotation, and when the angle states are the
// start angles themselves or are computed from the start rotation.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "array_runtime_fixture.h"
#include "model/multibody_frames.h"
#include "model/start_orientation.h"

namespace {

namespace Frames = Modelica::Mechanics::MultiBody::Frames;
using Values = std::vector<double>;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Unset = -12345.25;

class StartOrientationTest : public ArrayRuntimeTest {
 protected:
  void put(int32_t at, const Values& v) {
    for (size_t k = 0; k < v.size(); ++k) w[at + k] = v[k];
  }
  Values get(int32_t at, int n) const { return Values(w.begin() + at, w.begin() + at + n); }

  // The angles about the axes `sequence` that give the body's stored start rotation.
  Values angles_of_rotation(const Values& sequence) {
    const RotationRecord R = make_rotation_record(RealArrayWrap(&w[body.rotation], 2, 3, 3),
                                                  RealArrayWrap(&w[body.angularVelocity], 1, 3));
    const Values angles =
        values_of(Frames::axesRotationsAngles(R, IntegerArrayFromReal(sequence.data(), 1, 3), 0));
    end_equation_reset();
    return angles;
  }

  const StartOrientationMember& body = pendulumBodyStart;
  std::vector<double> w = std::vector<double>(1769, 0.0);  // the auxiliaries
};

enum class Axis { X, Y, Z };

Values elementary(Axis axis, double a) {
  const double c = std::cos(a), s = std::sin(a);
  switch (axis) {
    case Axis::X:
      return {1, 0, 0, 0, c, s, 0, -s, c};
    case Axis::Y:
      return {c, 0, -s, 0, 1, 0, s, 0, c};
    case Axis::Z:
      break;
  }
  return {c, s, 0, -s, c, 0, 0, 0, 1};
}

// Only exactly 1 and exactly 2 name the x and y axes; every other value, the neighbours of 1
// and 2 included, rotates about z. Each of the three places reads its own axis.
TEST_F(StartOrientationTest, AxisValueSelectsTheElementaryRotation) {
  struct Case {
    double value;
    Axis axis;
  };
  const Case cases[] = {
      {1.0, Axis::X},
      {2.0, Axis::Y},
      {3.0, Axis::Z},
      {0.0, Axis::Z},
      {-1.0, Axis::Z},
      {2.5, Axis::Z},
      {4.0, Axis::Z},
      {NaN, Axis::Z},
      {std::nextafter(1.0, 0.0), Axis::Z},
      {std::nextafter(1.0, 2.0), Axis::Z},
      {std::nextafter(2.0, 0.0), Axis::Z},
      {std::nextafter(2.0, 3.0), Axis::Z},
      {1e10, Axis::Z},
  };
  const double a = 0.5;
  for (int place = 0; place < 3; ++place) {
    for (const Case& k : cases) {
      SCOPED_TRACE("place " + std::to_string(place) + ", axis value " + std::to_string(k.value));
      Values sequence{3, 3, 3}, angles{0, 0, 0};
      sequence[place] = k.value;
      angles[place] = a;
      put(body.sequenceStart, sequence);
      put(body.anglesStart, angles);
      body_start_rotation(w.data(), body);
      EXPECT_EQ(get(body.rotation, 9), elementary(k.axis, a));
    }
  }
}

// Any axis value other than 1 and 2 is z, so {1, 2, 0} turns exactly as {1, 2, 3}.
TEST_F(StartOrientationTest, ThirdAxisZeroTurnsAsZ) {
  put(body.anglesStart, {0.3, -0.7, 1.1});
  put(body.sequenceStart, {1, 2, 3});
  body_start_rotation(w.data(), body);
  const Values T = get(body.rotation, 9);
  put(body.sequenceStart, {1, 2, 0});
  body_start_rotation(w.data(), body);
  EXPECT_EQ(get(body.rotation, 9), T);
}

// phi_start copies angles_start while the two sequences are equal element by element as
// doubles; otherwise it holds the angles about the angle-state axes, each axis truncated
// toward zero (NaN 0, out-of-range values saturated).
TEST_F(StartOrientationTest, AngleStatesAreCopiedOrComputed) {
  struct Case {
    const char* name;
    Values start;
    Values states;
    Values computedWith;  // empty: the copy
  };
  const double big = 1e300;
  const Case cases[] = {
      {"equal", {1, 2, 3}, {1, 2, 3}, {}},
      {"zero and negative zero", {0, 2, 3}, {-0.0, 2, 3}, {}},
      {"first differs", {1, 2, 3}, {1.5, 2, 3}, {1, 2, 3}},
      {"second differs, truncated not rounded", {1, 2, 3}, {1, 2.9, 3}, {1, 2, 3}},
      {"third differs", {1, 2, 3}, {1, 2, 3.5}, {1, 2, 3}},
      {"NaN state axis", {1, 2, 3}, {NaN, 2, 3}, {0, 2, 3}},
      {"NaN in both: never equal", {NaN, 2, 3}, {NaN, 2, 3}, {0, 2, 3}},
      {"huge state axis", {1, 2, 3}, {big, 2, 3}, {2147483647.0, 2, 3}},
      {"huge negative state axis", {1, 2, 3}, {-big, 2, 3}, {-2147483648.0, 2, 3}},
  };
  const Values angles{0.3, -0.2, 4.0};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    put(body.sequenceStart, k.start);
    put(body.sequenceAngleStates, k.states);
    put(body.anglesStart, angles);
    put(body.angleStates, {Unset, Unset, Unset});
    body_start_rotation(w.data(), body);
    body_start_quaternion_and_angles(w.data(), body);
    EXPECT_EQ(modelRuntime.functionStack, nullptr);
    EXPECT_EQ(reals_used(), 0);
    EXPECT_EQ(sizes_used(), 0);
    const Values phi = get(body.angleStates, 3);
    if (k.computedWith.empty()) {
      EXPECT_EQ(phi, angles);
    } else {
      const Values expected = angles_of_rotation(k.computedWith);
      EXPECT_NE(expected, angles);  // the case tells the two paths apart
      EXPECT_EQ(phi, expected);
    }
  }
}

// A failure inside the angle computation shows the body's call text below the function's
// frame: an angle-state axis 0 in the third place selects row 0 of the matrix.
TEST_F(StartOrientationTest, AngleCallTextIsOnTheStack) {
  for (const StartOrientationMember* member : {&armBodyStart, &pendulumBodyStart}) {
    SCOPED_TRACE(member->angleCall);
    put(member->sequenceStart, {1, 2, 3});
    put(member->sequenceAngleStates, {1, 2, 0});
    body_start_rotation(w.data(), *member);
    Lines lines = raise([&] { body_start_quaternion_and_angles(w.data(), *member); });
    ASSERT_GE(lines.size(), 3u);
    const Lines stack(lines.end() - 3, lines.end());
    EXPECT_EQ(stack, (Lines{"The stack of functions is:\n",
                            "Modelica.Mechanics.MultiBody.Frames.axesRotationsAngles\n",
                            std::string(member->angleCall) + "\n"}));
    end_equation_reset();
  }
}

}  // namespace
