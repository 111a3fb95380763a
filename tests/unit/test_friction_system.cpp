// The friction mixed system: the joint kinematics, the system each pattern of locked and
// sliding bearings gives, the solve in correction form, the rejected solve inside and outside
// events, the pass limit of the fixed-point iteration, and the accelerations of the start
// state against a small hand computation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "friction_fixture.h"
#include "model/body_sections.h"
#include "model/modelica_math.h"
#include "runtime/lapack.h"
#include "runtime/linsys.h"

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

// The torque balances of one pass, evaluated here from the values the pass read, with sums and
// products grouped as the model groups them; any other grouping changes last bits. Generic body
// terms (no zero inertia products, an offset centre of mass) make every term count.
struct TorqueBalances {
  double A[4], b[2];  // column-major
  double sa[2];       // (pendulum, arm) after the correction-form solve from saLast
  double F1, F3;
  std::vector<std::pair<int, double>> stores;  // cut forces and torques, in store order
};

TorqueBalances torque_balances(const std::vector<double>& w, const std::vector<double>& x,
                               const double (&last)[2]) {
  namespace fp = friction_position;
  const double wa = x[1], wp = x[3];
  const double m = w[1369], r1 = w[1366], r2 = w[1367], r3 = w[1368];
  const double I11 = w[1410], I12 = w[1411], I13 = w[1412], I21 = w[1413], I22 = w[1414],
               I23 = w[1415], I31 = w[1416], I32 = w[1417], I33 = w[1418];
  const double ma = w[1067], ra1 = w[1064], ra3 = w[1066], Ia22 = w[1118], g2 = w[1437];
  const double c = w[1672], s = w[1673], R32 = w[1675], R33 = w[1676];
  const double Ta11 = w[994], Ta13 = w[996], Ta31 = w[1000], Ta33 = w[1002];
  const double Tp21 = w[1356], Tp23 = w[1358], Tp31 = w[1359], Tp33 = w[1361];
  const double w2 = w[1363], w3 = w[1364];
  const double L = 0.245;
  // Direction of a sliding bearing: +1 forward, -1 backward; 0 while locked.
  auto direction = [&](int locked, int forward, int backward, double preMode) {
    if (w[locked] != 0.0) return 0.0;
    if (w[forward] != 0.0) return 1.0;
    if (w[backward] != 0.0) return -1.0;
    return preMode == ModeForward ? 1.0 : -1.0;
  };
  const double da =
      direction(fp::ArmLocked, fp::ArmStartForward, fp::ArmStartBackward, preValues[0]);
  const double dpend = direction(fp::PendulumLocked, fp::PendulumStartForward,
                                 fp::PendulumStartBackward, preValues[1]);
  const double La = da == 0.0 ? 1.0 : 0.0, Lp = dpend == 0.0 ? 1.0 : 0.0;
  const double oA = -da * w[fp::ArmTau0Max], oP = -dpend * w[fp::PendulumTau0Max];
  std::vector<double> table(w.begin() + fp::ArmTauPos, w.begin() + fp::ArmTauPos + 4);
  const RealArray tauPos = RealArrayWrap(table.data(), 2, 2, 2);
  const double Sa = da > 0   ? Modelica::Math::tempInterpol1(wa, tauPos, 2)
                    : da < 0 ? -Modelica::Math::tempInterpol1(-wa, tauPos, 2)
                             : 0.0;
  end_equation_reset();  // releases the wrapped table's dimensions
  const double Sp = dpend * w[fp::PendulumTau];

  const double u1 = w2 * r3 - w3 * r2, u2 = w3 * r1 - wp * r3, u3 = wp * r2 - w2 * r1;
  const double d1 = w2 * u3 - w3 * u2, d2 = w3 * u1 - wp * u3, d3 = wp * u2 - w2 * u1;
  const double h1 = I11 * wp + I12 * w2 + I13 * w3;
  const double h2 = I21 * wp + I22 * w2 + I23 * w3;
  const double h3 = I31 * wp + I32 * w2 + I33 * w3;
  const double G2 = (d2 - c * g2) * m, G3 = m * (d3 - R32 * g2);
  const double e2 = wp * R32 * wa, e3 = wp * c * wa;
  const double k1 = Ta11 * (wa * wa), k3 = Ta13 * (wa * wa);
  const double Jp = m * r3 * r3 + m * r2 * r2 + I11;
  const double K13 = m * r1 * r3 - I13, K12 = m * r1 * r2 - I12;
  const double N2 = m * Tp21 * r3 - m * Tp31 * r2, N3 = m * Tp23 * r3 - m * Tp33 * r2;
  const double Cpa = (R32 * K13 - (Ta31 * N2 + Ta33 * N3) * L) + c * K12;
  const double P = r1 * R32 - L * s, Q = -L * R33 - r1 * c, T = r3 * c - r2 * R32;
  const double Q2 = (m * Tp21 * P + m * Tp31 * Q) + m * Ta11 * T;
  const double Q3 = (m * Tp23 * P + m * Tp33 * Q) + m * Ta13 * T;
  const double B3 = m * r2 * T - m * r1 * P - I33 * R32 - I23 * c;
  const double B2 = m * r1 * Q - m * r3 * T - I32 * R32 - I22 * c;
  const double Cap = m * r3 * P - m * r2 * Q - I31 * R32 - I21 * c;
  const double Ja =
      (Ta31 * Q2 + Ta33 * Q3) * L + R32 * B3 + c * B2 - ma * ra1 * ra1 - ma * ra3 * ra3 - Ia22;
  const double Bp = Cpa * oA - L * N2 * k1 - L * N3 * k3 - K13 * e3 - Jp * oP;
  const double Ba = Ja * oA + L * Q2 * k1 + L * Q3 * k3 - B3 * e3 + Cap * oP - P * G2 + B2 * e2 -
                    Q * G3 - T * m * d1;

  TorqueBalances t{};
  t.A[0] = -(Lp + Jp * (1 - Lp));
  t.A[1] = Cap * (1 - Lp);
  t.A[2] = Cpa * (1 - La);
  t.A[3] = Ja * (1 - La) - La;
  t.b[0] = Sp - (Bp + r3 * G2 + K12 * e2 - r2 * G3 + w3 * h2 - w2 * h3);
  t.b[1] = Sa - (Ba + (w2 * h1 - wp * h2) * R32 + c * (wp * h3 - w3 * h1) -
                 ra1 * ma * (wa * wa * ra3) + ra3 * ma * (wa * (wa * ra1)));

  // Correction form: solve A·d = b - A·saLast, then sa = saLast + d.
  const int n = 2, one = 1, number = 1, options = 3, event = 0, flags = 0;
  const double minusOne = -1.0, plusOne = 1.0, t0 = 0.0;
  double rhs[2] = {t.b[0], t.b[1]}, work[16];
  int iwork[5], state = 0, error = 0;
  t.sa[0] = last[0];
  t.sa[1] = last[1];
  dgemv_("N", &n, &n, &minusOne, t.A, &n, t.sa, &one, &plusOne, rhs, &one, 1);
  linsys_solve(&number, &options, t.A, &n, &n, rhs, &t0, &event, &flags, work, iwork, &state,
               nullptr, &error);
  daxpy_(&n, &plusOne, rhs, &one, t.sa, &one);

  const double F1 = La != 0.0 ? 0.0 : t.sa[1] + oA;
  const double F3 = Lp != 0.0 ? 0.0 : t.sa[0] + oP;
  const double a1 = (Ta31 * F1 + k1) * (-0.245), a3 = (Ta33 * F1 + k3) * (-0.245);
  const double z3 = R32 * F1 - e3;
  const double f2 = -m * (Tp21 * a1 - c * g2 + Tp23 * a3 + z3 * r1 - F3 * r3 + d2);
  const double z2 = c * F1 + e2;
  const double f3 = -m * (Tp31 * a1 - R32 * g2 + Tp33 * a3 + F3 * r2 - z2 * r1 + d3);
  const double fa3 = -(s * f2 + R33 * f3);
  const double f1 = -m * (Ta11 * a1 + Ta13 * a3 + z2 * r3 - z3 * r2 + d1);
  const double t3 = -(I31 * F3 + I32 * z2 + I33 * z3 + wp * h2 - w2 * h1 + r2 * f1 - r1 * f2);
  const double t1 = -(I11 * F3 + I12 * z2 + I13 * z3 + w2 * h3 - w3 * h2 + r3 * f2 - r2 * f3);
  const double tt2 = -(I21 * F3 + I22 * z2 + I23 * z3 + w3 * h1 - wp * h3 + r1 * f3 - r3 * f1);
  const double tb2 = c * tt2 + R32 * t3;
  const double ta2 = -(0.245 * fa3 + tb2);
  const double af3 = -ma * (F1 * ra1 + wa * wa * ra3);
  const double af1 = (F1 * ra3 - wa * (wa * ra1)) * ma;
  const double at2 = Ia22 * F1 + ra3 * af1 - ra1 * af3;
  t.F1 = F1;
  t.F3 = F3;
  t.stores = {{1379, a1},  {1381, a3},  {1435, z3},  {1648, f2},  {1434, z2},  {1649, f3},
              {1007, fa3}, {1647, f1},  {1652, t3},  {1650, t1},  {1651, tt2}, {1018, tb2},
              {1008, ta2}, {1059, af3}, {1057, af1}, {1061, at2}};
  return t;
}

TEST_F(FrictionTest, SystemDerivativesAndCutForcesToTheLastBit) {
  struct Case {
    const char* what;
    double preArm, prePendulum;
    int relation[2];             // relations that hold (-1: none)
    double arm[3], pendulum[3];  // startForward, startBackward, locked as the pass leaves them
  };
  const Case cases[] = {
      {"both slide as their modes were", ModeForward, ModeBackward, {-1, -1}, {0, 0, 0}, {0, 0, 0}},
      {"the same, reversed", ModeBackward, ModeForward, {-1, -1}, {0, 0, 0}, {0, 0, 0}},
      {"arm starts backward, pendulum forward", ModeStuck, ModeStuck, {4, 8}, {0, 1, 0}, {1, 0, 0}},
      {"arm starts forward, pendulum held", ModeStuck, ModeStuck, {0, -1}, {1, 0, 0}, {0, 0, 1}},
      {"arm held, pendulum starts backward", ModeStuck, ModeStuck, {12, -1}, {0, 0, 1}, {0, 1, 0}},
      {"both start against their modes", ModeForward, ModeBackward, {6, 10}, {0, 1, 0}, {1, 0, 0}},
  };
  // Body terms and states drawn at random around generic values: a regrouping changes the last
  // bit only for some operands, so each pattern is tried at many of them. Masses and inertias
  // share a scale down to 1/100, so that beside the -1 of a held bearing the system needs its
  // rows and columns equilibrated.
  std::mt19937_64 random(20260);
  std::uniform_real_distribution<double> around(0.5, 1.5);
  std::uniform_real_distribution<double> decades(-2.0, 0.0);
  struct BodyTerm {
    int position;
    double value;
    bool massLike;
  };
  const BodyTerm body[] = {
      {1369, 1.7, true},    {1366, 0.083, false}, {1367, 0.27, false},  {1368, -0.19, false},
      {1410, 0.21, true},   {1411, -0.13, true},  {1412, 0.07, true},   {1413, -0.11, true},
      {1414, 0.19, true},   {1415, 0.093, true},  {1416, 0.05, true},   {1417, 0.12, true},
      {1418, 0.17, true},   {1067, 0.83, true},   {1064, 0.117, false}, {1066, -0.094, false},
      {1118, 0.093, true},
  };

  for (const Case& k : cases) {
    for (int draw = 0; draw < 40; ++draw) {
      SCOPED_TRACE(testing::Message() << k.what << ", draw " << draw);
      SetUp();
      const double scale = std::pow(10.0, decades(random));
      for (const BodyTerm& v : body)
        w[v.position] = v.value * around(random) * (v.massLike ? scale : 1.0);
      x = {0.7 * around(random), -1.3 * around(random), 2.1 * around(random),
           0.9 * around(random), 0.0};
      set_pre_modes(k.preArm, k.prePendulum);
      for (const int r : k.relation)
        if (r >= 0) relation_hysteresis.value[r] = 1;
      saLast[0] = 0.003 * around(random);  // small: the correction keeps its last bits
      saLast[1] = -0.002 * around(random);
      const double last[2] = {saLast[0], saLast[1]};
      ASSERT_EQ(call(DemandDerivatives, 0.5), 0);
      for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(w[fp::ArmStartForward + i], k.arm[i]) << i;
        ASSERT_EQ(w[fp::PendulumStartForward + i], k.pendulum[i]) << i;
      }

      const TorqueBalances t = torque_balances(w, x, last);
      for (int i = 0; i < 4; ++i) ASSERT_EQ(frictionSystem.A[i], t.A[i]) << "A[" << i << "]";
      ASSERT_EQ(w[fp::PendulumSa], t.sa[0]);
      ASSERT_EQ(w[fp::ArmSa], t.sa[1]);
      ASSERT_EQ(F[1], t.F1);
      ASSERT_EQ(F[3], t.F3);
      for (const auto& [position, value] : t.stores)
        ASSERT_EQ(w[position], value) << "w[" << position << "]";
      ASSERT_EQ(w[1552], -(w[1061] + w[1008]));  // the arm bearing's friction torque
    }
  }
}

// An arm table that cannot be interpolated fails inside the sliding torque's call; the report
// names the call the torque came from: the speed itself sliding forward, its negation backward.
TEST_F(FrictionTest, ArmTableFailureReportsTheCallOfItsSlidingTorque) {
  struct Case {
    const char* what;
    double preArm;
    int start;  // the stored start Boolean that holds (its position), or -1
    const char* call;
  };
  const char* forward = "Modelica.Math.tempInterpol1(armJoint.w, armBearingFriction.tau_pos, 2)\n";
  const char* backward =
      "Modelica.Math.tempInterpol1( -armJoint.w, armBearingFriction.tau_pos, 2)\n";
  const Case cases[] = {
      {"sliding forward as before", ModeForward, -1, forward},
      {"sliding backward as before", ModeBackward, -1, backward},
      {"starting forward", ModeStuck, fp::ArmStartForward, forward},
      {"starting backward", ModeForward, fp::ArmStartBackward, backward},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    SetUp();
    w[fp::ArmTauPos + 2] = w[fp::ArmTauPos];  // both rows at the same speed
    set_pre_modes(k.preArm, ModeStuck);
    if (k.start >= 0) w[k.start] = 1.0;
    LogCapture log;
    EXPECT_EQ(call(DemandDerivatives, 0.25), 1);
    const Lines texts = log.texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "Modelica.Math.tempInterpol1\n");
    EXPECT_EQ(texts.back(), k.call);
    EXPECT_EQ(modelRuntime.functionStack, nullptr);
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

// At an event as well: a rejected pass that changed a Boolean is followed by another pass of the
// fixed-point iteration; only a rejected pass that changed nothing asks the event iteration for
// another pass.
TEST_F(RejectedSolveTest, AtAnEventARejectedPassThatChangedABooleanRunsAgainFirst) {
  LogCapture log;
  w[fp::PendulumStartForward] = 1.0;  // the rule gives 0 after a Forward mode
  modelRuntime.event = 1;
  int32_t demand = DemandEventUpdate, QiErr = 0;
  joint_kinematics(args(&demand, &QiErr));
  EXPECT_TRUE(friction_mixed_system(args(&demand, &QiErr)));
  EXPECT_EQ(QiErr, 0);
  EXPECT_EQ(w[fp::PendulumStartForward], 0.0);
  EXPECT_EQ(modelRuntime.retryPassRequested, 1);
  EXPECT_EQ(modelRuntime.changed, 1);
  const Lines texts = log.texts();
  EXPECT_EQ(count_lines(texts, "Fixed point iterating to handle problem.\n"), 1);
  EXPECT_EQ(count_lines(texts, "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL\n"), 2);
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
