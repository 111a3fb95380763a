// The parameter-dependent values at the FMI boundary: world, arm and pendulum dimensions, the
// bodies' parameter copies and start orientation, the friction tables and gravity terms, read
// with fmiGetReal after fmiInitialize; parameters set before it, and the failures they cause.
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "fmi_fixture.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Parameters.
constexpr uint32_t WorldG = 0;
constexpr uint32_t DefaultWidthFraction = 7;
constexpr uint32_t DefaultFrameDiameterFraction = 8;
constexpr uint32_t ArmFriction = 12;
constexpr uint32_t PendulumFriction = 13;
constexpr uint32_t ArmParameters = 14;       // r_CM[1..3], m, I_11 .. I_32, angles_start,
constexpr uint32_t PendulumParameters = 35;  // w_0_start, z_0_start: 19 each
constexpr uint32_t ArmPeak = 58;
constexpr uint32_t PendulumPeak = 60;

// Where a body keeps what it computes from its parameters.
struct Body {
  const char* name;
  uint32_t parameters;
  uint32_t massProperties;  // copies of r_CM[1..3], m, I_11, I_22, I_33, I_21, I_31, I_32
  uint32_t anglesStart, w0Start, z0Start, inertia, rotation, zaStart, quaternion, angleStates;
  const char* quaternionCall;
};
const Body Arm{.name = "arm",
               .parameters = ArmParameters,
               .massProperties = 1064,
               .anglesStart = 1087,
               .w0Start = 1094,
               .z0Start = 1098,
               .inertia = 1114,
               .rotation = 1123,
               .zaStart = 1135,
               .quaternion = 1147,
               .angleStates = 1155,
               .quaternionCall =
                   "Modelica.Mechanics.MultiBody.Frames.to_Q(\narm.body.R_start, \n"
                   "Modelica.Mechanics.MultiBody.Frames.Quaternions.nullRotation())"};
const Body Pendulum{.name = "pendulum",
                    .parameters = PendulumParameters,
                    .massProperties = 1366,
                    .anglesStart = 1383,
                    .w0Start = 1390,
                    .z0Start = 1394,
                    .inertia = 1410,
                    .rotation = 1419,
                    .zaStart = 1431,
                    .quaternion = 1439,
                    .angleStates = 1447,
                    .quaternionCall =
                        "Modelica.Mechanics.MultiBody.Frames.to_Q(\npendulum.body.R_start, \n"
                        "Modelica.Mechanics.MultiBody.Frames.Quaternions.nullRotation())"};

using Values = std::vector<double>;
using Lines = std::vector<std::string>;

struct Expected {
  uint32_t auxiliary;
  double value;
};

class DependentParameters : public ParameterTest {
 protected:
  using ParameterTest::aux;
  Values aux(uint32_t first, int n) {
    Values v;
    for (int k = 0; k < n; ++k) v.push_back(aux(first + k));
    return v;
  }
  void expect(const std::vector<Expected>& expected) {
    for (const Expected& e : expected) {
      if (std::isnan(e.value))
        EXPECT_TRUE(std::isnan(aux(e.auxiliary))) << "auxiliary " << e.auxiliary;
      else
        EXPECT_EQ(aux(e.auxiliary), e.value) << "auxiliary " << e.auxiliary;
    }
  }
};

TEST_F(DependentParameters, DefaultParameters) {
  create_initialized();
  expect({
      {23, 0.0125},                 // world.axisDiameter
      {35, 0.0125},                 // world.gravityArrowDiameter
      {52, 0.0625},                 // world.headLength
      {53, 0.037500000000000006},   // world.headWidth: 3 * 0.0125, not 1.5 / 40
      {54, 0.4375},                 // world.lineLength
      {55, 0.0125},                 // world.lineWidth
      {56, 0.037500000000000006},   // world.scaledLabel
      {828, 0.05},                  // world.gravityHeadLength
      {829, 0.037500000000000006},  // world.gravityHeadWidth
      {830, 0.2},                   // world.gravityLineLength
      {977, 0.01225},               // arm.width
      {978, 0.01225},               // arm.height
      {982, 0.0245},                // arm.sphereDiameter
      {1034, 0.01225},              // arm.frameTranslation.width
      {1035, 0.01225},              // arm.frameTranslation.height
      {1289, 0.02105},              // pendulum.width
      {1290, 0.02105},              // pendulum.height
      {1294, 0.0421},               // pendulum.sphereDiameter
      {1346, 0.02105},              // pendulum.frameTranslation.width
      {1347, 0.02105},              // pendulum.frameTranslation.height
      {1729, 0.0},                  // armBearingFriction.tau_pos[1, 1]
      {1730, 0.012},                // armBearingFriction.tau_pos[1, 2]
      {1731, 0.012},                // armBearingFriction.tau_pos[2, 1]
      {1732, 0.012},                // armBearingFriction.tau_pos[2, 2]
      {1733, 0.012},                // armBearingFriction.tau0
      {1734, 0.012},                // armBearingFriction.tau0_max
      {1752, 0.002},                // pendulumBearingFriction.tau_pos[1, 2]
      {1753, 0.002},                // pendulumBearingFriction.tau0_max
      {1145, -9.81},                // arm.body.g_0[2]
      {1437, -9.81},                // pendulum.body.g_0[2]
      {1220, -0.01225},             // arm.shape2.r_shape[1]
      {1491, -0.02105},             // pendulum.shape2.r_shape[1]
      {1067, 0.165},                // arm.body.m
      {1369, 0.035},                // pendulum.body.m
      {1367, 0.2105},               // pendulum.body.r_CM[2]
  });
  const Values identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (const Body& b : {Arm, Pendulum}) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ(aux(b.rotation, 9), identity);
    EXPECT_EQ(aux(b.quaternion, 4), (Values{0, 0, 0, 1}));
    EXPECT_EQ(aux(b.angleStates, 3), (Values{0, 0, 0}));
    EXPECT_EQ(aux(b.zaStart, 3), (Values{0, 0, 0}));
  }
  EXPECT_EQ(aux(Arm.inertia, 9), (Values{0.00144, 0, 0, 0, 0.001, 0, 0, 0, 0.001}));
  EXPECT_EQ(aux(Pendulum.inertia, 9), (Values{0.00384, 0, 0, 0, 0.001, 0, 0, 0, 0.001}));
}

TEST_F(DependentParameters, ParametersSetBeforeInitialization) {
  struct Case {
    const char* name;
    std::vector<Setting> settings;
    std::vector<Expected> expected;
  };
  const Case cases[] = {
      // Below a fraction of 5 the head would be longer than the axis: it takes the whole axis.
      {"frame diameter fraction 4",
       {{DefaultFrameDiameterFraction, 4}},
       {{23, 0.125}, {52, 0.5}, {53, 0.375}, {54, 0.0}, {56, 0.375}}},
      {"frame diameter fraction 6",
       {{DefaultFrameDiameterFraction, 6}},
       {{52, 0.41666666666666663}, {54, 0.08333333333333337}}},
      {"width fraction 3",
       {{DefaultWidthFraction, 3}},
       {{35, 0.08333333333333333}, {828, 0.25}, {830, 0.0}, {23, 0.0125}}},
      {"width fraction 5",
       {{DefaultWidthFraction, 5}},
       {{35, 0.05}, {828, 0.2}, {830, 0.04999999999999999}, {977, 0.049}, {1289, 0.0842}}},
      // Only a zero divides by zero: the smallest fraction gives infinite widths.
      {"width fraction just above 0",
       {{DefaultWidthFraction, 4.9e-324}},
       {{35, Inf}, {828, 0.25}, {830, 0.0}, {977, Inf}, {1220, -Inf}}},
      {"arm.m", {{ArmParameters + 3, 0.5}}, {{1067, 0.5}, {1369, 0.035}}},
      {"world.g", {{WorldG, 3.5}}, {{1145, -3.5}, {1437, -3.5}}},
      {"armFriction",
       {{ArmFriction, 0.03}},
       {{1730, 0.03}, {1731, 0.03}, {1732, 0.03}, {1733, 0.03}, {1734, 0.03}, {1752, 0.002}}},
      // The smallest friction still divides: only a zero abscissa step is an error.
      {"armFriction just above 0", {{ArmFriction, 4.9e-324}}, {{1733, 4.9e-324}, {1734, 4.9e-324}}},
      {"peaks",
       {{ArmPeak, 2.5}, {PendulumPeak, 3}},
       {{1733, 0.012}, {1734, 0.03}, {1752, 0.002}, {1753, 0.006}}},
      {"pendulumFriction", {{PendulumFriction, 0.004}}, {{1752, 0.004}, {1753, 0.004}}},
      {"centres of mass",
       {{ArmParameters, 0.1}, {PendulumParameters, 0.1}},
       {{1220, 0.08775000000000001}, {1491, 0.07895}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    create();
    set(k.settings);
    ASSERT_EQ(initialize(), fmiOK);
    expect(k.expected);
    instance.reset();
  }
}

// Every copy in its place: distinct values for all 19 parameters of each body.
TEST_F(DependentParameters, BodyParameterCopies) {
  create();
  for (const Body& b : {Arm, Pendulum})
    for (uint32_t k = 0; k < 19; ++k) set(b.parameters + k, (b.parameters + k) / 8.0);
  for (const Body& b : {Arm, Pendulum})  // no rotation, so z_a_start is z_0_start
    for (uint32_t k = 10; k < 13; ++k) set(b.parameters + k, 0.0);
  ASSERT_EQ(initialize(), fmiOK);
  for (const Body& b : {Arm, Pendulum}) {
    SCOPED_TRACE(b.name);
    auto p = [&](uint32_t k) { return (b.parameters + k) / 8.0; };
    EXPECT_EQ(aux(b.massProperties, 10),
              (Values{p(0), p(1), p(2), p(3), p(4), p(5), p(6), p(7), p(8), p(9)}));
    EXPECT_EQ(aux(b.anglesStart, 3), (Values{0, 0, 0}));
    EXPECT_EQ(aux(b.w0Start, 3), (Values{p(13), p(14), p(15)}));
    EXPECT_EQ(aux(b.z0Start, 3), (Values{p(16), p(17), p(18)}));
    EXPECT_EQ(aux(b.zaStart, 3), (Values{p(16), p(17), p(18)}));
    // Rows (I_11, I_21, I_31), (I_21, I_22, I_32), (I_31, I_32, I_33).
    EXPECT_EQ(aux(b.inertia, 9), (Values{p(4), p(7), p(8), p(7), p(5), p(9), p(8), p(9), p(6)}));
  }
}

TEST_F(DependentParameters, ArmInertiaI21IsStoredAtBothSymmetricPlaces) {
  create();
  set(ArmParameters + 7, 0.5);  // arm.I_21
  ASSERT_EQ(initialize(), fmiOK);
  EXPECT_EQ(aux(1071), 0.5);  // arm.body.I_21
  EXPECT_EQ(aux(1115), 0.5);  // arm.body.I[1, 2]
  EXPECT_EQ(aux(1117), 0.5);  // arm.body.I[2, 1]
  EXPECT_EQ(aux(Arm.inertia, 9), (Values{0.00144, 0.5, 0, 0.5, 0.001, 0, 0, 0, 0.001}));
}

// One angle about each axis of the sequence {1, 2, 3}.
TEST_F(DependentParameters, StartOrientationFromOneAngle) {
  const double a = 0.5, c = std::cos(a), s = std::sin(a);
  struct Case {
    const Body& body;
    uint32_t angle;  // 0-based element of angles_start
    double value;
    Values T;
    Values Q;
  };
  const Case cases[] = {
      {Pendulum, 2, a, {c, s, 0, -s, c, 0, 0, 0, 1}, {0, 0, std::sin(a / 2), std::cos(a / 2)}},
      {Arm, 2, a, {c, s, 0, -s, c, 0, 0, 0, 1}, {0, 0, std::sin(a / 2), std::cos(a / 2)}},
      {Arm, 0, a, {1, 0, 0, 0, c, s, 0, -s, c}, {std::sin(a / 2), 0, 0, std::cos(a / 2)}},
      {Pendulum, 1, a, {c, 0, -s, 0, 1, 0, s, 0, c}, {0, std::sin(a / 2), 0, std::cos(a / 2)}},
      // Beyond a half turn the quaternion is signed toward the null rotation {0, 0, 0, 1}.
      {Pendulum,
       2,
       4.0,
       {std::cos(4.0), std::sin(4.0), 0, -std::sin(4.0), std::cos(4.0), 0, 0, 0, 1},
       {0, 0, -std::sin(2.0), -std::cos(2.0)}},
      {Pendulum,  // just past a half turn: another branch, then the sign is turned
       2,
       3.2,
       {std::cos(3.2), std::sin(3.2), 0, -std::sin(3.2), std::cos(3.2), 0, 0, 0, 1},
       {0, 0, -std::sin(1.6), -std::cos(1.6)}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.body.name) + " angle " + std::to_string(k.angle + 1));
    create();
    set(k.body.parameters + 10 + k.angle, k.value);
    ASSERT_EQ(initialize(), fmiOK);
    EXPECT_EQ(aux(k.body.rotation, 9), k.T);
    const Values Q = aux(k.body.quaternion, 4);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(Q[i], k.Q[i], 1e-15) << "Q_start[" << i + 1 << "]";
    Values phi{0, 0, 0};
    phi[k.angle] = k.value;
    EXPECT_EQ(aux(k.body.angleStates, 3), phi);  // a copy of the angles, not recomputed
    const Body& other = k.body.parameters == ArmParameters ? Pendulum : Arm;
    EXPECT_EQ(aux(other.rotation, 9), (Values{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    instance.reset();
  }
}

// Three angles: R_start.T = R_3 R_2 R_1, and z_a_start = R_start.T z_0_start summed from the
// left (the first component differs in its last bit when summed from the right).
TEST_F(DependentParameters, StartOrientationFromThreeAnglesAndStartAcceleration) {
  const double a1 = 0.3, a2 = -0.7, a3 = 1.1;
  const double c1 = std::cos(a1), s1 = std::sin(a1), c2 = std::cos(a2), s2 = std::sin(a2),
               c3 = std::cos(a3), s3 = std::sin(a3);
  const Values z{1.5, -2.25, 0.75};
  for (const Body& b : {Arm, Pendulum}) {
    SCOPED_TRACE(b.name);
    create();
    set({{b.parameters + 10, a1}, {b.parameters + 11, a2}, {b.parameters + 12, a3}});
    set({{b.parameters + 16, z[0]}, {b.parameters + 17, z[1]}, {b.parameters + 18, z[2]}});
    ASSERT_EQ(initialize(), fmiOK);
    const Values T = aux(b.rotation, 9);
    const Values expected{c3 * c2,
                          (0 + s3 * c1) + (c3 * -s2) * -s1,
                          (0 + s3 * s1) + (c3 * -s2) * c1,
                          -s3 * c2,
                          (0 + c3 * c1) + (-s3 * -s2) * -s1,
                          (0 + c3 * s1) + (-s3 * -s2) * c1,
                          s2,
                          c2 * -s1,
                          c2 * c1};
    for (int k = 0; k < 9; ++k) EXPECT_EQ(T[k], expected[k]) << "R_start.T element " << k;
    EXPECT_EQ(aux(b.angleStates, 3), (Values{a1, a2, a3}));
    const Values za = aux(b.zaStart, 3);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(za[i], (T[3 * i] * z[0] + T[3 * i + 1] * z[1]) + T[3 * i + 2] * z[2]) << i;
    const Values Q = aux(b.quaternion, 4);
    EXPECT_NEAR(Q[0] * Q[0] + Q[1] * Q[1] + Q[2] * Q[2] + Q[3] * Q[3], 1.0, 1e-15);
    EXPECT_GT(Q[3], 0.0);
    instance.reset();
  }
}

// The log of a failed initialisation: the model's report (at fmiOK, shown with debug logging)
// and the interface's message (fmiError).
Lines report(const std::string& message, const Lines& stack) {
  Lines lines{"The following error was detected at time: 0\n", message};
  if (!stack.empty()) lines.push_back("The stack of functions is:\n");
  for (const std::string& frame : stack) lines.push_back(frame + "\n");
  lines.push_back("fmiInitialize: dsblock_ failed, QiErr = 1\n");
  return lines;
}

// A zero divisor fails the initialisation with the division's texts; what was stored before
// the division keeps its value, nothing after it is computed. The same instance then
// initialises once the parameter is sound.
TEST_F(DependentParameters, ZeroDivisorsFailTheInitialization) {
  struct Case {
    const char* name;
    Setting bad;
    Lines log;
    std::vector<Expected> stored;  // written before the failure
    std::vector<uint32_t> notStored;
    Expected afterRepair;
  };
  const Case cases[] = {
      {"zero frame diameter fraction",
       {DefaultFrameDiameterFraction, 0.0},
       report("\nModel error - division by zero: (world.axisLength) / "
              "(world.defaultFrameDiameterFraction) = (0.5) / (0)\n\n",
              {}),
       {},
       {23, 35},
       {23, 0.0125}},
      {"zero width fraction",
       {DefaultWidthFraction, 0.0},
       report("\nModel error - division by zero: (world.gravityArrowLength) / "
              "(world.defaultWidthFraction) = (0.25) / (0)\n\n",
              {}),
       {{23, 0.0125}},
       {35, 52, 977},
       {35, 0.0125}},
      {"negative zero width fraction",
       {DefaultWidthFraction, -0.0},
       report("\nModel error - division by zero: (world.gravityArrowLength) / "
              "(world.defaultWidthFraction) = (0.25) / (-0)\n\n",
              {}),
       {{23, 0.0125}},
       {35},
       {35, 0.0125}},
      {"zero arm friction",
       {ArmFriction, 0.0},
       report("\nModel error - division by zero: ((y2-y1)*(u-u1)) / (u2-u1) = (0) / (0)\n\n",
              {"Modelica.Math.tempInterpol1",
               "Modelica.Math.tempInterpol1(0, armBearingFriction.tau_pos, 2)"}),
       {{1145, -9.81}, {1289, 0.02105}},
       {1733, 1437},
       {1733, 0.012}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_EQ(initialize_with({k.bad}, fmiTrue), fmiError);
    EXPECT_EQ(logged_texts(), k.log);
    ASSERT_EQ(logged_messages().size(), k.log.size());
    for (size_t i = 0; i + 1 < k.log.size(); ++i) EXPECT_EQ(logged_messages()[i].status, fmiOK);
    EXPECT_EQ(logged_messages().back().status, fmiError);
    for (const Expected& e : k.stored) EXPECT_EQ(m().auxiliaries[e.auxiliary], e.value);
    for (uint32_t w : k.notStored) EXPECT_EQ(m().auxiliaries[w], 0.0) << "auxiliary " << w;

    const std::vector<Setting> defaults = {
        {DefaultFrameDiameterFraction, 40}, {DefaultWidthFraction, 20}, {ArmFriction, 0.012}};
    for (const Setting& d : defaults)
      if (d.parameter == k.bad.parameter) set(d.parameter, d.value);
    logged_messages().clear();
    ASSERT_EQ(initialize(), fmiOK);
    EXPECT_TRUE(logged_messages().empty());
    expect({k.afterRepair});
    instance.reset();
  }
}

// A NaN width fraction divides without a report: every width that follows from it is NaN,
// and so are the gravity head and line lengths (NaN fails the comparisons).
TEST_F(DependentParameters, NaNWidthFractionGivesNaNWidths) {
  ASSERT_EQ(initialize_with({{DefaultWidthFraction, NaN}}, fmiTrue), fmiOK);
  for (const LoggedMessage& message : logged_messages()) EXPECT_NE(message.status, fmiError);
  expect({{35, NaN},
          {828, NaN},
          {829, NaN},
          {830, NaN},
          {977, NaN},
          {978, NaN},
          {982, NaN},
          {1034, NaN},
          {1035, NaN},
          {1289, NaN},
          {1290, NaN},
          {1294, NaN},
          {1346, NaN},
          {1347, NaN},
          {1220, NaN},
          {1491, NaN},
          // The axes take their diameter from the other fraction.
          {23, 0.0125},
          {52, 0.0625},
          {54, 0.4375},
          {56, 0.037500000000000006}});
}

// A NaN frame diameter fraction makes the axis diameter NaN, and with it the head and line
// lengths: NaN fails the head's comparison (so 5 * diameter is taken, not the axis length) and
// is not below 0 (so the line is NaN, not 0). These are stored first in the section, so they
// hold whatever the later sections make of the NaN; the gravity arrow does not use it.
TEST_F(DependentParameters, NaNFrameDiameterFractionGivesNaNAxisDimensions) {
  create();
  set(DefaultFrameDiameterFraction, NaN);
  initialize();
  for (uint32_t k : {23, 52, 53, 54, 55, 56})
    EXPECT_TRUE(std::isnan(m().auxiliaries[k])) << "auxiliary " << k;
  EXPECT_EQ(m().auxiliaries[35], 0.0125);  // world.gravityArrowDiameter
  EXPECT_EQ(m().auxiliaries[828], 0.05);   // world.gravityHeadLength
}

// A NaN start angle makes the rotation matrix NaN; the quaternion's root fails inside the
// frame functions, whose frames stand above the body's call text.
TEST_F(DependentParameters, NaNStartAngleFailsInTheQuaternion) {
  for (const Body& b : {Arm, Pendulum}) {
    SCOPED_TRACE(b.name);
    ASSERT_EQ(initialize_with({{b.parameters + 12, NaN}}, fmiTrue), fmiError);  // angles_start[3]
    Lines log = logged_texts();
    ASSERT_EQ(log.size(), 7u);
    // The sign of the NaN is the platform's.
    EXPECT_TRUE(log[1] == "\nModel error - sqrt (c3) = sqrt (nan)\n\n" ||
                log[1] == "\nModel error - sqrt (c3) = sqrt (-nan)\n\n")
        << log[1];
    log[1] = "";
    EXPECT_EQ(log, report("", {"Modelica.Mechanics.MultiBody.Frames.Quaternions.from_T",
                               "Modelica.Mechanics.MultiBody.Frames.to_Q", b.quaternionCall}));
    EXPECT_TRUE(std::isnan(m().auxiliaries[b.rotation]));
    EXPECT_EQ(m().auxiliaries[b.quaternion + 3], 0.0);  // not reached
    // The pendulum's dimensions come between the two bodies.
    EXPECT_EQ(m().auxiliaries[1289], b.parameters == ArmParameters ? 0.0 : 0.02105);
    instance.reset();
  }
}

}  // namespace
