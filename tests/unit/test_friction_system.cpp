// The friction mixed system: the joint kinematics, the system each pattern of locked and
// sliding bearings gives, the solve in correction form, the rejected solve inside and outside
// events, the pass limit of the fixed-point iteration, and the accelerations of the start
// state against a small hand computation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "friction_fixture.h"
#include "model/body_sections.h"

namespace {

namespace fp = friction_position;

using Lines = std::vector<std::string>;

constexpr double Inf = std::numeric_limits<double>::infinity();

int count_lines(const Lines& lines, const std::string& text) {
  int n = 0;
  for (const std::string& l : lines) n += l == text;
  return n;
}

bool has_line_starting(const Lines& lines, const std::string& start) {
  for (const std::string& l : lines)
    if (l.rfind(start, 0) == 0) return true;
  return false;
}

TEST_F(FrictionTest, JointKinematicsFromTheAngles) {
  x = {0.25, 1.5, -0.75, 2.0, 0.0};
  int32_t demand = DemandDerivatives, QiErr = 0;
  joint_kinematics(args(&demand, &QiErr));
  const double ca = std::cos(0.25), sa = std::sin(0.25);
  const double cp = std::cos(-0.75), sp = std::sin(-0.75);
  struct Store {
    int position;
    double value;
  };
  const Store stores[] = {
      {1672, cp},        {1673, sp},      {1675, -sp},     {1676, cp},      {1363, cp * 1.5},
      {1364, -sp * 1.5}, {1000, sa},      {994, ca},       {1002, ca},      {996, -sa},
      {1359, cp * sa},   {1361, cp * ca}, {1356, sp * sa}, {1358, sp * ca},
  };
  for (const Store& s : stores) EXPECT_EQ(w[s.position], s.value) << "w[" << s.position << "]";
}

// The start state: the pendulum at 30 degrees at rest, the arm at rest. The pendulum's gravity
// torque exceeds its breakaway torque, so it slides; the arm's holding torque stays below its
// limit. By hand: J·a = m·g·r·sin(phi) - tau, J = I11 + m·r², and the torque that holds the arm
// about its vertical axis is the rate of the pendulum's angular momentum about it,
// m·L·r·cos(phi)·a.
TEST_F(FrictionTest, AtTheStartThePendulumFallsWhileTheArmIsHeld) {
  ASSERT_EQ(call(DemandEventUpdate), 0);
  computedLevel = 0;
  ASSERT_EQ(call(DemandDerivatives), 0);

  const double m = pendulum_mass(), r = pendulum_cm(), g = gravity();
  const double tau = w[fp::PendulumTau];
  const double a = (m * g * r * std::sin(StartAngle) - tau) / (pendulum_I11() + m * r * r);
  EXPECT_NEAR(F[3], a, 1e-12 * a);
  EXPECT_EQ(F[1], 0.0);
  EXPECT_EQ(F[0], x[1]);
  EXPECT_EQ(F[2], x[3]);
  const double holding = m * ArmLength * r * std::cos(StartAngle) * a;
  EXPECT_NEAR(w[fp::ArmSa], holding, 1e-12 * holding);
  EXPECT_LT(std::fabs(w[fp::ArmSa]), w[fp::ArmTau0Max]);
  EXPECT_NEAR(w[1552], w[fp::ArmSa], 1e-15);  // armJoint.frame_b.t[2]: the arm's friction torque
  EXPECT_EQ(F[3], w[fp::PendulumSa] - w[fp::PendulumTau0Max]);  // sliding forward

  EXPECT_EQ(w[fp::ArmLocked], 1.0);
  EXPECT_EQ(w[fp::PendulumLocked], 0.0);
  EXPECT_EQ(w[fp::PendulumStartForward], 1.0);
  EXPECT_EQ(w[fp::ArmMode], ModeStuck);
  EXPECT_EQ(w[fp::PendulumMode], ModeStuck);  // at rest until it moves
}

// Which bearings slide follows the pre values of the modes outside events; each pattern gives
// its own system: a locked bearing's column is minus a unit vector, a sliding one's carries
// the inertia terms; the acceleration is sa minus the breakaway torque sliding forward, plus it
// sliding backward, and 0 while locked.
TEST_F(FrictionTest, SystemAndAccelerationsForEachPatternOfLockedAndSlidingBearings) {
  struct Case {
    const char* what;
    double preArm, prePendulum;
    bool armLocked, pendulumLocked;
    double armSign, pendulumSign;  // acceleration = sa + sign·tau0_max
  };
  const Case cases[] = {
      {"both locked", ModeStuck, ModeStuck, true, true, 0, 0},
      {"arm locked, pendulum forward", ModeStuck, ModeForward, true, false, 0, -1},
      {"arm backward, pendulum locked", ModeBackward, ModeStuck, false, true, 1, 0},
      {"arm forward, pendulum backward", ModeForward, ModeBackward, false, false, -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    x = {0.3, 0.5, StartAngle, -0.25, 0.0};
    set_pre_modes(c.preArm, c.prePendulum);
    ASSERT_EQ(call(DemandDerivatives), 0);
    EXPECT_EQ(w[fp::ArmLocked], c.armLocked ? 1.0 : 0.0);
    EXPECT_EQ(w[fp::PendulumLocked], c.pendulumLocked ? 1.0 : 0.0);

    const double* A = frictionSystem.A;  // column-major: A(1,1), A(2,1), A(1,2), A(2,2)
    if (c.pendulumLocked) {
      EXPECT_EQ(A[0], -1.0);
      EXPECT_EQ(A[1], 0.0);
    } else {
      EXPECT_LT(A[0], 0.0);  // minus the pendulum's inertia about its axis
      EXPECT_NE(A[1], 0.0);
    }
    if (c.armLocked) {
      EXPECT_EQ(A[2], 0.0);
      EXPECT_EQ(A[3], -1.0);
    } else {
      EXPECT_NE(A[2], 0.0);
      EXPECT_NE(A[3], -1.0);
    }
    EXPECT_EQ(F[1], c.armLocked ? 0.0 : w[fp::ArmSa] + c.armSign * w[fp::ArmTau0Max]);
    EXPECT_EQ(F[3],
              c.pendulumLocked ? 0.0 : w[fp::PendulumSa] + c.pendulumSign * w[fp::PendulumTau0Max]);
    EXPECT_EQ(F[0], x[1]);
    EXPECT_EQ(F[2], x[3]);
  }
}

TEST_F(FrictionTest, BothLockedHoldTheGravityTorque) {
  w[fp::PendulumTau0Max] = 1.0;  // strong enough to hold the pendulum
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
  ASSERT_EQ(call(DemandEventUpdate), 0);
  EXPECT_EQ(w[fp::PendulumLocked], 1.0);
  EXPECT_EQ(w[fp::ArmLocked], 1.0);
  const double held = pendulum_mass() * gravity() * pendulum_cm() * std::sin(StartAngle);
  EXPECT_NEAR(w[fp::PendulumSa], held, 1e-14);
  EXPECT_NEAR(w[fp::ArmSa], 0.0, 1e-14);  // gravity has no torque about the vertical axis
  EXPECT_EQ(F[1], 0.0);
  EXPECT_EQ(F[3], 0.0);
}

// Every solve starts from the last evaluation's solution and solves for the correction, so the
// result does not depend on it beyond rounding; the derivative call keeps its solution.
TEST_F(FrictionTest, SolutionDoesNotDependOnTheLastSolution) {
  x = {0.3, 0.5, StartAngle, -0.25, 0.0};
  set_pre_modes(ModeForward, ModeBackward);
  time = 0.5;
  std::vector<double> solutions;
  for (const double start : {0.0, 40.0, -3e3}) {
    saLast[0] = start;
    saLast[1] = -start;
    computedLevel = 0;
    ASSERT_EQ(call(DemandDerivatives, 0.5), 0);
    solutions.push_back(w[fp::ArmSa]);
    solutions.push_back(w[fp::PendulumSa]);
    EXPECT_EQ(saLast[0], w[fp::PendulumSa]);
    EXPECT_EQ(saLast[1], w[fp::ArmSa]);
    EXPECT_EQ(saTime, 0.5);
  }
  for (size_t i = 2; i < solutions.size(); ++i)
    EXPECT_NEAR(solutions[i], solutions[i % 2], 1e-11 * std::fabs(solutions[i % 2])) << i;
}

// A massless pendulum that slides makes the system singular with a right-hand side it cannot
// meet: the solver rejects it.
class RejectedSolveTest : public FrictionTest {
 protected:
  void SetUp() override {
    FrictionTest::SetUp();
    for (int i = 1369; i <= 1375; ++i) w[i] = 0.0;  // pendulum.body.m, I_..
    for (int i = 1410; i <= 1418; ++i) w[i] = 0.0;  // pendulum.body.I
    set_pre_modes(ModeStuck, ModeForward);
    w[fp::ArmLocked] = 1.0;  // as the arm's rule gives it
  }
};

TEST_F(RejectedSolveTest, OutsideEventsTheEvaluationFailsAndLevelThreeIsSkipped) {
  LogCapture log;
  saLast[0] = 0.125;
  saLast[1] = -0.5;
  F[0] = F[2] = -7.0;
  w[fp::ArmMode] = 9.0;
  EXPECT_EQ(call(DemandOutputs, 0.75), 1);
  EXPECT_EQ(computedLevel, DemandOutputs);  // left at the demand
  EXPECT_EQ(F[0], -7.0);                    // no der(phi) copies, no modes, no pre-value update
  EXPECT_EQ(F[2], -7.0);
  EXPECT_EQ(w[fp::ArmMode], 9.0);
  EXPECT_EQ(saLast[0], 0.125);
  EXPECT_EQ(saLast[1], -0.5);
  EXPECT_EQ(frictionSystem.solverProblem, 1);
  const Lines texts = log.texts();
  EXPECT_EQ(count_lines(texts, "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.75\n"), 1);
  EXPECT_EQ(count_lines(texts, "...    Linear system of equations number = 1\n"), 1);
  EXPECT_TRUE(has_line_starting(texts, "pendulumBearingFriction.sa = "));
  EXPECT_EQ(count_lines(texts, "Fixed point iterating to handle problem.\n"), 0);

  // Once the pendulum has its mass again, the same request succeeds.
  derive_body_terms();
  computedLevel = 0;
  EXPECT_EQ(call(DemandOutputs, 0.75), 0);
  EXPECT_EQ(F[0], x[1]);
  EXPECT_EQ(saLast[0], w[fp::PendulumSa]);
}

TEST_F(RejectedSolveTest, AtAnEventItAsksForAnotherPass) {
  int32_t demand = DemandEventUpdate, QiErr = 0;
  modelRuntime.event = 1;
  joint_kinematics(args(&demand, &QiErr));
  EXPECT_TRUE(friction_mixed_system(args(&demand, &QiErr)));  // level 3 runs
  EXPECT_EQ(QiErr, 0);
  EXPECT_EQ(modelRuntime.changed, 1);
  EXPECT_EQ(modelRuntime.retryPassRequested, 1);
  EXPECT_EQ(frictionSystem.solverProblem, 0);

  // Every pass of the event iteration is rejected again (the pendulum keeps sliding forward),
  // so the iteration fails in the end.
  x[3] = 1.0;
  w[fp::PendulumMode] = ModeForward;
  EXPECT_EQ(call(DemandEventUpdate), 1);
  EXPECT_EQ(modelRuntime.eventIteration, 26);
}

// A rejected pass that also changed a Boolean runs again, announced unless the quiet bit is set.
TEST_F(RejectedSolveTest, ARejectedPassThatChangedABooleanIsRepeated) {
  for (const int32_t flags : {0, PrintFlagQuiet}) {
    SCOPED_TRACE(flags);
    LogCapture log;
    w[fp::PendulumStartForward] = 1.0;  // the rule gives 0 after a Forward mode
    modelRuntime.printFlags = flags;
    int32_t demand = DemandDerivatives, QiErr = 0;
    joint_kinematics(args(&demand, &QiErr));
    EXPECT_FALSE(friction_mixed_system(args(&demand, &QiErr)));
    EXPECT_EQ(QiErr, 1);
    EXPECT_EQ(w[fp::PendulumStartForward], 0.0);
    EXPECT_EQ(count_lines(log.texts(), "Fixed point iterating to handle problem.\n"),
              flags == 0 ? 1 : 0);
    // Two solves, each rejected and reported.
    EXPECT_EQ(count_lines(log.texts(), "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL\n"), 2);
  }
}

// A state that is no finite number never gives derivatives: the solve counts as rejected.
TEST_F(FrictionTest, NonFiniteStatesAreARejectedSolve) {
  const double bad[] = {NaN, Inf, -Inf};
  for (int state = 0; state < 4; ++state) {
    for (const double v : bad) {
      SCOPED_TRACE(testing::Message() << "x[" << state << "] = " << v);
      SetUp();
      set_pre_modes(ModeStuck, ModeForward);
      x[state] = v;
      F[0] = F[2] = -7.0;
      EXPECT_EQ(call(DemandDerivatives), 1);
      EXPECT_EQ(F[0], -7.0);
      EXPECT_EQ(F[2], -7.0);
    }
  }
}

// A system whose Booleans change in every pass: the pendulum held by its bearing breaks loose,
// but released it would turn the other way (its inertia is made negative), so it is held again.
// The iteration stops after 13 passes and keeps their values, without an error.
TEST_F(FrictionTest, FixedPointIterationStopsAfterThirteenPasses) {
  const double m = pendulum_mass(), r = pendulum_cm();
  const double held = m * gravity() * r * std::sin(StartAngle);
  // Sliding forward it then accelerates at minus its breakaway torque, so that its sa is 0.
  w[1410] = -(held - w[fp::PendulumTau]) / w[fp::PendulumTau0Max] - m * r * r;
  w[fp::ArmTau0Max] = 1e3;  // the arm stays held
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
  set_pre_modes(ModeStuck, ModeStuck);
  modelRuntime.event = 1;
  modelRuntime.time = 1.25;

  for (const int32_t flags : {PrintFlagEvents, 0}) {
    SCOPED_TRACE(flags);
    LogCapture log;
    modelRuntime.printFlags = flags;
    int32_t demand = DemandEventUpdate, QiErr = 0;
    joint_kinematics(args(&demand, &QiErr));
    EXPECT_TRUE(friction_mixed_system(args(&demand, &QiErr)));
    EXPECT_EQ(QiErr, 0);
    const Lines texts = log.texts();
    if (flags == PrintFlagEvents) {
      // One change of the pendulum's locked Boolean per pass.
      int lockedChanges = 0;
      for (const std::string& t : texts)
        lockedChanges += t.rfind("  Variable pendulumBearingFriction.locked = ", 0) == 0;
      EXPECT_EQ(lockedChanges, 13);
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.back(), "Fix point iteration did not converge at time : 1.25\n");
    } else {
      EXPECT_TRUE(texts.empty());
    }
    // Thirteen passes from locked: the last one solved as locked and broke loose.
    EXPECT_EQ(w[fp::PendulumLocked], 0.0);
    EXPECT_EQ(w[fp::PendulumStartForward], 1.0);
    w[fp::PendulumLocked] = 1.0;
    w[fp::PendulumStartForward] = 0.0;
  }
}

}  // namespace
