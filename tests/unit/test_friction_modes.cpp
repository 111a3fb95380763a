// The friction modes, the pre values with the saved friction solution, the initial equations
// and the level-3 outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "friction_fixture.h"
#include "model/body_sections.h"
#include "runtime/relations.h"

namespace {

namespace fp = friction_position;

using Lines = std::vector<std::string>;

class FrictionModesTest : public FrictionTest {
 protected:
  ModelEntryArguments args() { return FrictionTest::args(&demand_, &QiErr_); }
  std::vector<int> evaluated() const {
    std::vector<int> out;
    for (int k = 0; k < 16; ++k)
      if (relation_hysteresis.evaluatedBefore[k]) out.push_back(k);
    return out;
  }
  void level_three_outputs_to_the_last_bit(int set);
  int32_t demand_ = DemandOutputs;
  int32_t QiErr_ = 0;
};

// Forward while moving forward after Forward or Free or a forward start, Backward likewise,
// else Stuck; a speed relation is evaluated only when the test before it holds.
TEST_F(FrictionModesTest, ModeRules) {
  struct Case {
    const char* what;
    double preMode;
    double startForward, startBackward;
    double speed;
    double mode;
    std::vector<int> reached;  // of the arm; the pendulum's are 8 higher
  };
  const Case cases[] = {
      {"free, moving forward", ModeFree, 0, 0, 0.5, ModeForward, {3}},
      {"free, at rest", ModeFree, 0, 0, 0.0, ModeStuck, {3, 7}},
      {"free, moving backward", ModeFree, 0, 0, -0.5, ModeBackward, {3, 7}},
      {"forward, still forward", ModeForward, 0, 0, 0.5, ModeForward, {3}},
      {"forward, reversed", ModeForward, 0, 0, -0.5, ModeStuck, {3}},
      {"backward, still backward", ModeBackward, 0, 0, -0.5, ModeBackward, {7}},
      {"stuck, starting forward", ModeStuck, 1, 0, 0.5, ModeForward, {3}},
      {"stuck, starting forward at rest", ModeStuck, 1, 0, 0.0, ModeStuck, {3}},
      {"stuck, starting backward", ModeStuck, 0, 1, -0.5, ModeBackward, {7}},
      {"backward, starting forward but moving backward",
       ModeBackward,
       1,
       0,
       -0.5,
       ModeBackward,
       {3, 7}},
      {"stuck, moving", ModeStuck, 0, 0, 0.5, ModeStuck, {}},
  };
  for (const Case& c : cases) {
    for (const bool pendulum : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (pendulum ? ", pendulum" : ", arm"));
      SetUp();
      modelRuntime.event = 1;
      // The other bearing: Stuck at rest, no relation.
      set_pre_modes(pendulum ? ModeStuck : c.preMode, pendulum ? c.preMode : ModeStuck);
      w[pendulum ? fp::PendulumStartForward : fp::ArmStartForward] = c.startForward;
      w[pendulum ? fp::PendulumStartBackward : fp::ArmStartBackward] = c.startBackward;
      x[pendulum ? 3 : 1] = c.speed;
      w[fp::ArmMode] = w[fp::PendulumMode] = 9.0;
      friction_modes_and_outputs(args());
      EXPECT_EQ(w[pendulum ? fp::PendulumMode : fp::ArmMode], c.mode);
      EXPECT_EQ(w[pendulum ? fp::ArmMode : fp::PendulumMode], ModeStuck);
      std::vector<int> reached = c.reached;
      if (pendulum)
        for (int& k : reached) k += 8;
      EXPECT_EQ(evaluated(), reached);
    }
  }
}

// The pendulum's mode is decided before the arm's: at an event where both start to move, the
// relations switch in that order.
TEST_F(FrictionModesTest, PendulumModeIsDecidedBeforeTheArms) {
  LogCapture log;
  modelRuntime.event = 1;
  modelRuntime.printFlags = PrintFlagEvents;
  set_pre_modes(ModeFree, ModeFree);
  x[1] = 0.5;
  x[3] = -0.25;
  friction_modes_and_outputs(args());
  EXPECT_EQ(log.texts(),
            (Lines{"Expression pendulumJoint.w < 0 became true ( (pendulumJoint.w)-(0) = -0.25 )\n",
                   "Expression armJoint.w > 0 became true ( (armJoint.w)-(0) = 0.5 )\n"}));
  EXPECT_EQ(w[fp::PendulumMode], ModeBackward);
  EXPECT_EQ(w[fp::ArmMode], ModeForward);
}

// The three calls of a pass: at initialisation the pre values become Unknown and false; at
// events they take over the current values, raising changed and logging each change in the
// order of the six; saLast follows the current solution in every call but mode 0 outside
// initialisation.
TEST_F(FrictionModesTest, PreValueUpdates) {
  struct Case {
    const char* what;
    int mode, initial, event;
    bool preValuesTaken;  // the current values
    bool initialValues;   // Unknown and false
    bool changed;
    bool saKept;
  };
  const Case cases[] = {
      {"initialisation, mode 0", 0, 1, 1, false, true, true, true},
      {"initialisation, mode 1", 1, 1, 1, false, true, true, true},
      {"initialisation pass, mode 2 with initial cleared", 2, 0, 1, true, false, true, true},
      {"event, mode 0", 0, 0, 1, true, false, true, false},
      {"event, mode 1", 1, 0, 1, true, false, true, true},
      {"outside events, mode 1", 1, 0, 0, false, false, false, true},
      {"outside events, mode 0", 0, 0, 0, false, false, false, false},
  };
  // Values that tell the six apart (the update does not look at them otherwise).
  const double current[6] = {1.0, -1.0, 10.0, 20.0, 30.0, 40.0};
  const int positions[6] = {
      fp::ArmMode,          fp::PendulumMode,         fp::ArmStartForward,
      fp::ArmStartBackward, fp::PendulumStartForward, fp::PendulumStartBackward};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    LogCapture log;
    modelRuntime.printFlags = PrintFlagEvents;
    for (int i = 0; i < 6; ++i) {
      w[positions[i]] = current[i];
      preValues[i] = 0.5;  // differs from every value
    }
    w[fp::ArmSa] = 0.25;
    w[fp::PendulumSa] = -0.75;
    saLast[0] = saLast[1] = 9.0;
    saTime = 1.0;
    time = 2.5;
    update_discrete_pre_values(args(), c.mode, c.initial, c.event, 0);

    const double initialValues[6] = {3.0, 3.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < 6; ++i) {
      const double expected =
          c.initialValues ? initialValues[i] : (c.preValuesTaken ? current[i] : 0.5);
      EXPECT_EQ(preValues[i], expected) << i;
    }
    EXPECT_EQ(modelRuntime.changed, c.changed ? 1 : 0);
    if (c.saKept) {
      EXPECT_EQ(saLast[0], -0.75);
      EXPECT_EQ(saLast[1], 0.25);
      EXPECT_EQ(saTime, 2.5);
    } else {
      EXPECT_EQ(saLast[0], 9.0);
      EXPECT_EQ(saTime, 1.0);
    }
    EXPECT_EQ(saPrevTime, 0.0);  // only a move request keeps a second copy
    if (c.preValuesTaken) {
      EXPECT_EQ(log.texts(),
                (Lines{"  Variable armBearingFriction.mode = 1 at time 2.5\n",
                       "  Variable armBearingFriction.startBackward = 20 at time 2.5\n",
                       "  Variable armBearingFriction.startForward = 10 at time 2.5\n",
                       "  Variable pendulumBearingFriction.mode = -1 at time 2.5\n",
                       "  Variable pendulumBearingFriction.startBackward = 40 at time 2.5\n",
                       "  Variable pendulumBearingFriction.startForward = 30 at time 2.5\n"}));
    } else {
      EXPECT_TRUE(log.texts().empty());
    }
  }
}

// What the first pass of an initialisation leaves for the second: the rules of the first pass
// take the discrete values that stand before the call as pre values (the update inside the
// initial section runs with initial cleared), while the pass itself ends with the pre values at
// Unknown and false again. Here a previous run left the arm Forward and the pendulum Backward;
// both at rest, so Unknown pre values would have held both bearings.
struct PassStart {
  double preValues[DiscreteCount];
  double armLocked, pendulumLocked;
  std::vector<int> evaluated;
};
std::vector<PassStart> passStarts;

void record_pass_start(const ModelEntryArguments& a) {
  PassStart p;
  for (int k = 0; k < DiscreteCount; ++k) p.preValues[k] = preValues[k];
  p.armLocked = a.auxiliaries[fp::ArmLocked];
  p.pendulumLocked = a.auxiliaries[fp::PendulumLocked];
  for (int k = 0; k < 16; ++k)
    if (relation_hysteresis.evaluatedBefore[k]) p.evaluated.push_back(k);
  passStarts.push_back(p);
}

TEST_F(FrictionModesTest, FirstInitialisationPassTakesTheValuesBeforeTheCallAsPreValues) {
  x = {0.0, 0.0, StartAngle, 0.0, 0.0};
  w[fp::ArmMode] = ModeForward;
  w[fp::PendulumMode] = ModeBackward;
  for (const int p : {fp::ArmStartForward, fp::ArmStartBackward, fp::PendulumStartForward,
                      fp::PendulumStartBackward})
    w[p] = 0.0;
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
  passStarts.clear();
  tavelo_test_pass_hook = &record_pass_start;
  ASSERT_EQ(call(DemandInitialize), 0);
  tavelo_test_pass_hook = nullptr;

  ASSERT_GE(passStarts.size(), 2u);
  const PassStart& second = passStarts[1];
  // Both bearings slid in the first pass: after Forward and Backward nothing locks them.
  EXPECT_EQ(second.armLocked, 0.0);
  EXPECT_EQ(second.pendulumLocked, 0.0);
  // The relations the first pass reached: the arm's after Forward (3, 6, 7), the pendulum's
  // after Backward (10, 11, 15); Unknown pre values would have reached 3, 7, 11 and 15 only.
  EXPECT_EQ(second.evaluated, (std::vector<int>{3, 6, 7, 10, 11, 15}));
  const double initialValues[DiscreteCount] = {3.0, 3.0, 0.0, 0.0, 0.0, 0.0};
  for (int k = 0; k < DiscreteCount; ++k) EXPECT_EQ(second.preValues[k], initialValues[k]) << k;
  // At rest both modes end Stuck.
  EXPECT_EQ(w[fp::ArmMode], ModeStuck);
  EXPECT_EQ(w[fp::PendulumMode], ModeStuck);
}

TEST_F(FrictionModesTest, EqualPreValuesAreNoChangeAndWithoutTheBitNothingIsLogged) {
  LogCapture log;
  w[fp::ArmMode] = 1.0;
  preValues[0] = 1.0;
  update_discrete_pre_values(args(), 0, 0, 1, 0);
  EXPECT_EQ(modelRuntime.changed, 0);
  w[fp::ArmMode] = -1.0;
  update_discrete_pre_values(args(), 0, 0, 1, 0);
  EXPECT_EQ(modelRuntime.changed, 1);
  EXPECT_EQ(preValues[0], -1.0);
  EXPECT_TRUE(log.texts().empty());
}

// A move request keeps the previous solution and its time once the time has advanced.
TEST_F(FrictionModesTest, MoveRequestKeepsTheSolutionBefore) {
  saLast[0] = 1.0;
  saLast[1] = 2.0;
  saTime = 0.5;
  struct Step {
    double t, pendulumSa, armSa;
  };
  for (const Step& s : {Step{0.5, 3.0, 4.0}, Step{0.75, 5.0, 6.0}}) {
    SCOPED_TRACE(s.t);
    time = s.t;
    w[fp::PendulumSa] = s.pendulumSa;
    w[fp::ArmSa] = s.armSa;
    update_discrete_pre_values(args(), 0, 0, 0, 1);
    EXPECT_EQ(saLast[0], s.pendulumSa);
    EXPECT_EQ(saLast[1], s.armSa);
    EXPECT_EQ(saTime, s.t);
  }
  // Only the second call came at a later time: it kept the first call's solution.
  EXPECT_EQ(saPrev[0], 3.0);
  EXPECT_EQ(saPrev[1], 4.0);
  EXPECT_EQ(saPrevTime, 0.5);
}

// The guess values: rows of the start rotations times the start angular velocities and
// accelerations, each summed left to right.
TEST_F(FrictionModesTest, InitialEquations) {
  for (int i = 0; i < 9; ++i) {
    w[1123 + i] = i + 1;   // arm.body.R_start.T: rows (1 2 3), (4 5 6), (7 8 9)
    w[1419 + i] = 10 + i;  // pendulum.body.R_start.T: rows (10 11 12), (13 14 15), (16 17 18)
  }
  const double armW0[3] = {1, 2, 4}, armZ0[3] = {8, 16, 32};
  const double pendW0[3] = {1, 10, 100}, pendZ0[3] = {2, 3, 5};
  for (int i = 0; i < 3; ++i) {
    w[1094 + i] = armW0[i];
    w[1098 + i] = armZ0[i];
    w[1390 + i] = pendW0[i];
    w[1394 + i] = pendZ0[i];
  }
  initial_equations(args());
  EXPECT_EQ(w[1004], 4 + 10 + 24);
  EXPECT_EQ(w[1362], 10 + 110 + 1200);
  EXPECT_EQ(w[1363], 13 + 140 + 1500);
  EXPECT_EQ(w[1364], 16 + 170 + 1800);
  EXPECT_EQ(w[1434], 26 + 42 + 75);
  EXPECT_EQ(w[1435], 32 + 51 + 90);
  EXPECT_EQ(F[1], 32 + 80 + 192);
  EXPECT_EQ(F[3], 20 + 33 + 60);

  // The save and restore of the six discrete values leave them as they were.
  const int discrete[6] = {fp::ArmMode,      fp::ArmStartBackward,      fp::ArmStartForward,
                           fp::PendulumMode, fp::PendulumStartBackward, fp::PendulumStartForward};
  for (int i = 0; i < 6; ++i) w[discrete[i]] = i - 2.5;
  save_discrete_values(args());
  for (int i = 0; i < 6; ++i) w[discrete[i]] = 7.0;
  restore_discrete_values(args());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w[discrete[i]], i - 2.5);
}

// The level-3 outputs at a general state, checked by the geometry they describe.
TEST_F(FrictionModesTest, LevelThreeOutputs) {
  x = {0.4, 1.5, 2.0, -0.5, 0.0};
  dp[56] = 0.125;  // armJoint.fixed.phi0
  dp[57] = -0.25;  // pendulumJoint.fixed.phi0
  set_pre_modes(ModeForward, ModeBackward);
  computedLevel = 0;
  ASSERT_EQ(call(DemandOutputs), 0);
  const double sa = std::sin(0.4), ca = std::cos(0.4);

  // The pendulum's origin is the arm's tip, moving with the arm.
  EXPECT_EQ(w[1264], ArmLength * ca);
  EXPECT_EQ(w[1266], -(ArmLength * sa));
  EXPECT_EQ(w[1268], -ArmLength * sa * 1.5);
  EXPECT_EQ(w[1270], -ArmLength * ca * 1.5);
  // The orientation copies of the arm and the angular velocities.
  for (int p : {1571, 1047, 1355, 1306}) EXPECT_EQ(w[p], -sa) << p;
  for (int p : {1569, 1045, 1353, 1304, 1577, 1053}) EXPECT_EQ(w[p], ca) << p;
  for (int p : {1575, 1051}) EXPECT_EQ(w[p], sa) << p;
  for (int p : {1579, 1055, 1004}) EXPECT_EQ(w[p], 1.5) << p;
  for (int p : {1362, 1677, 1313}) EXPECT_EQ(w[p], -0.5) << p;
  EXPECT_EQ(w[1748], 0.4 - 0.125);
  EXPECT_EQ(w[1767], 2.0 + 0.25);
  // Frame a of the arm joint sees frame b's force and torque turned about the vertical axis.
  auto norm2 = [this](int a, int b) { return w[a] * w[a] + w[b] * w[b]; };
  EXPECT_NEAR(norm2(1534, 1535), norm2(1548, 1550), 1e-12 * norm2(1548, 1550));
  EXPECT_NEAR(norm2(1536, 1537), norm2(1551, 1553), 1e-12 * norm2(1551, 1553));
  EXPECT_NE(norm2(1548, 1550), 0.0);
  EXPECT_NE(norm2(1551, 1553), 0.0);
  // The pendulum's far end and shapes lie 0.421 along its axis, the cylinder 0.05 behind.
  const double r[3] = {w[1322] - w[1264], w[1323], w[1324] - w[1266]};
  EXPECT_NEAR(std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]), 0.421, 1e-15);
  EXPECT_EQ(w[1323], 0.421 * std::cos(2.0));
  EXPECT_EQ(w[1719], w[1264] - 0.05 * ca);
  EXPECT_EQ(w[1721], w[1266] - 0.05 * -sa);
}

// The level-3 outputs to the last bit, from inputs whose products and sums round: each one at
// its own position, with its sums and products grouped as the model's equations group them.
TEST_F(FrictionModesTest, LevelThreeOutputsToTheLastBit) {
  // A few sets of distinct inputs that are no short binary fractions: a regrouped sum rounds
  // differently for some of them.
  for (int set = 0; set < 16; ++set) {
    SCOPED_TRACE(set);
    SetUp();
    level_three_outputs_to_the_last_bit(set);
  }
}

void FrictionModesTest::level_three_outputs_to_the_last_bit(int set) {
  for (int k = 0; k < ModelAuxiliaryCount; ++k)
    if (k != fp::ArmMode && k != fp::PendulumMode)
      w[k] = std::sqrt(k + 2.0 + set) / (k % 2 ? -7 : 3);
  for (int k = 0; k < ModelParameterCount; ++k) dp[k] = std::sqrt(k + 5.0 + set) / 11;
  x = {std::sqrt(0.3 + set), std::sqrt(0.7 + set), std::sqrt(1.9 + set), -std::sqrt(1.3 + set),
       0.0};
  F[1] = std::sqrt(0.17 + set);
  set_pre_modes(ModeStuck, ModeStuck);
  const std::vector<double> in = w;
  const double Ta11 = in[994], Ta13 = in[996], Ta31 = in[1000], Ta33 = in[1002];
  const double Tp21 = in[1356], Tp23 = in[1358], Tp31 = in[1359], Tp33 = in[1361];
  const double c = in[1672], s = in[1673], R32 = in[1675], R33 = in[1676];
  const double wa = x[1], wp = x[3];
  friction_modes_and_outputs(args());

  // Copies of orientations and angular velocities.
  const struct {
    int position;
    double value;
  } copies[] = {
      {1571, Ta13}, {1047, Ta13}, {1569, Ta11}, {1045, Ta11}, {1577, Ta33},
      {1053, Ta33}, {1575, Ta31}, {1051, Ta31}, {1579, wa},   {1055, wa},
      {1004, wa},   {1362, wp},   {1677, wp},   {1357, c},    {1360, R32},
      {1353, Ta11}, {1355, Ta13}, {1304, Ta11}, {1306, Ta13}, {1307, Tp21},
      {1308, c},    {1309, Tp23}, {1310, Tp31}, {1311, R32},  {1312, Tp33},
      {1313, wp},   {1314, in[1363]},           {1315, in[1364]},
  };
  for (const auto& e : copies) EXPECT_EQ(w[e.position], e.value) << e.position;

  // Forces and torques of the arm joint and body.
  const double f1006 = -(c * in[1648] + R32 * in[1649]);
  const double t1060 =
      ((in[1115] * F[1] + (wa * in[1121]) * wa) + in[1065] * in[1059]) - in[1066] * in[1058];
  const double t1062 =
      ((in[1121] * F[1] - (wa * in[1115]) * wa) + in[1064] * in[1058]) - in[1065] * in[1057];
  const double t1019 = s * in[1651] + R33 * in[1652];
  const double t1009 = 0.245 * f1006 - t1019;
  const double f1548 = in[1647] - in[1057];
  const double f1550 = -(in[1059] + in[1007]);
  const double t1551 = in[1650] - t1060;
  const double t1553 = -(t1062 + t1009);
  const double r1264 = 0.245 * Ta11, r1266 = 0.245 * Ta13;
  const struct {
    int position;
    double value;
  } computed[] = {
      {1548, f1548},
      {1006, f1006},
      {1549, -(in[1058] + f1006)},
      {1550, f1550},
      {1060, t1060},
      {1551, t1551},
      {1062, t1062},
      {1019, t1019},
      {1009, t1009},
      {1553, t1553},
      {1748, x[0] - dp[56]},
      {1767, x[2] - dp[57]},
      {1266, r1266},
      {1264, r1264},
      {1270, (-0.245 * Ta33) * wa},
      {1268, (-0.245 * Ta31) * wa},
      {1535, -(Ta13 * f1548 + Ta33 * f1550)},
      {1534, -(Ta11 * f1548 + Ta31 * f1550)},
      {1537, -(Ta13 * t1551 + Ta33 * t1553)},
      {1536, -(Ta11 * t1551 + Ta31 * t1553)},
      {1246, Ta11 * in[1220] + Ta31 * dp[16]},
      {1247, Ta13 * in[1220] + Ta33 * dp[16]},
      {1324, 0.421 * Tp23 + r1266},
      {1322, 0.421 * Tp21 + r1264},
      {1323, 0.421 * c},
      {1514, ((Ta11 * in[1491] + r1264) + Tp21 * dp[36]) + Tp31 * dp[37]},
      {1515, c * dp[36] + R32 * dp[37]},
      {1516, ((Ta13 * in[1491] + r1266) + Tp23 * dp[36]) + Tp33 * dp[37]},
      {1719, r1264 - 0.05 * Ta11},
      {1721, r1266 - 0.05 * Ta13},
  };
  for (const auto& e : computed) EXPECT_EQ(w[e.position], e.value) << e.position;
}

// A derivative request solves level 2 only and keeps the solution for the next solve; a
// request for outputs on top of it runs level 3 alone.
TEST_F(FrictionModesTest, DerivativeRequestThenOutputs) {
  x = {0.0, 0.5, StartAngle, 0.25, 0.0};
  set_pre_modes(ModeForward, ModeForward);
  relation_hysteresis.value[3] = relation_hysteresis.value[11] = 1;  // both moving forward
  w[fp::ArmMode] = w[fp::PendulumMode] = 9.0;
  time = 0.125;
  ASSERT_EQ(call(DemandDerivatives, 0.125), 0);
  EXPECT_EQ(F[0], 0.5);
  EXPECT_EQ(F[2], 0.25);
  EXPECT_EQ(w[fp::ArmMode], 9.0);  // level 3 did not run
  EXPECT_EQ(saLast[0], w[fp::PendulumSa]);
  EXPECT_EQ(saLast[1], w[fp::ArmSa]);
  EXPECT_EQ(saTime, 0.125);
  EXPECT_EQ(preValues[0], ModeForward);  // outside events the pre values stay

  const double F1 = F[1];
  F[0] = -7.0;
  frictionSystem.A[0] = -7.0;
  ASSERT_EQ(call(DemandOutputs, 0.125), 0);
  EXPECT_EQ(w[fp::ArmMode], ModeForward);
  EXPECT_EQ(w[fp::PendulumMode], ModeForward);
  EXPECT_EQ(F[0], -7.0);  // level 2 did not run again
  EXPECT_EQ(frictionSystem.A[0], -7.0);
  EXPECT_EQ(F[1], F1);
}

}  // namespace
