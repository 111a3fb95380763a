// Level 2: the joint kinematics and the friction mixed system. Each bearing's unknown sa is the
// friction torque while the bearing is locked and its shifted relative acceleration while it
// slides; the two torque balances about the joint axes couple both unknowns into a 2 x 2
// system, solved in every pass of a fixed-point iteration over the friction Booleans.
#include <cmath>

#include "model/body_sections.h"
#include "model/call_frame.h"
#include "model/friction_system.h"
#include "model/modelica_math.h"
#include "model/pre_values.h"
#include "runtime/lapack.h"
#include "runtime/output.h"
#include "runtime/runtime_state.h"

FrictionSystemState frictionSystem;

namespace {

namespace fp = friction_position;

constexpr double ArmLength = 0.245;

constexpr int SystemNumber = 1;
// Straight to the rank-revealing factorisation, equilibrated.
constexpr int SystemOptions = LinsysOptionSkipLU | LinsysOptionEquilibrate;
constexpr const char* UnknownNames[FrictionSystemSize] = {"pendulumBearingFriction.sa",
                                                          "armBearingFriction.sa"};

constexpr const char* ArmTableForward =
    "Modelica.Math.tempInterpol1(armJoint.w, armBearingFriction.tau_pos, 2)";
constexpr const char* ArmTableBackward =
    "Modelica.Math.tempInterpol1( -armJoint.w, armBearingFriction.tau_pos, 2)";

// Where the 21 iteration variables live: auxiliaries, or derivatives where marked.
struct IterationSlot {
  bool derivative;
  int16_t position;
};
constexpr IterationSlot iterationSlots[FrictionIterationVariableCount] = {
    {false, 1648}, {false, 1652},      {false, 1647}, {false, 1381}, {false, 1379},
    {false, 1649}, {false, 1651},      {false, 1552}, {false, 1650}, {false, 1007},
    {false, 1435}, {false, 1018},      {false, 1008}, {false, 1059}, {false, 1057},
    {false, 1061}, {false, fp::ArmSa}, {true, 1},     {false, 1434}, {false, fp::PendulumSa},
    {true, 3},
};

// The Booleans and pre values of one bearing as one pass reads them.
struct BearingState {
  bool locked;
  bool startForward;
  bool startBackward;
  bool preForward;  // pre(mode) = Forward
};

BearingState bearing_state(const double* w, int locked, int startForward, int startBackward,
                           double preMode) {
  return {w[locked] != 0.0, w[startForward] != 0.0, w[startBackward] != 0.0,
          preMode == ModeForward};
}

// The direction a sliding bearing's law takes: forward unless it starts backward or, starting
// neither way, its last mode was not Forward.
bool slides_forward(const BearingState& s) {
  if (s.startForward) return true;
  if (s.startBackward) return false;
  return s.preForward;
}

// Acceleration offset: minus the breakaway torque sliding forward, plus it sliding backward.
double acceleration_offset(const BearingState& s, double tau0Max) {
  if (s.locked) return 0.0;
  return slides_forward(s) ? -tau0Max : tau0Max;
}

double arm_table(const ModelEntryArguments& a, double u, const char* callText) {
  push_call_text(callText);
  // The frame stays on the stack until the equation of armJoint.der(w) ends.
  return Modelica::Math::tempInterpol1_two_rows(u, &a.auxiliaries[fp::ArmTauPos]);
}

// Every quantity of the two torque balances that one pass needs, from the current values.
struct Coefficients {
  double oA, oP;      // acceleration offsets
  double d1, d2, d3;  // pendulum centre-of-mass acceleration terms
  double h1, h2, h3;  // pendulum angular momentum
  double G2, G3;      // gravity and centripetal terms
  double e2, e3;      // relative-rotation terms
  double k1, k3;      // centripetal acceleration of the arm's tip
  double Jp;          // pendulum inertia about its joint axis
  double K13, K12;
  double N2, N3;
  double Cpa;  // arm acceleration in the pendulum equation
  double P, Q, T;
  double Q2, Q3, B3, B2;
  double Cap;  // pendulum acceleration in the arm equation
  double Ja;   // the arm equation's own coefficient
};

// The joint speeds and the model values both halves of a pass read, named as the equations
// use them. None of them changes while the mixed system iterates.
struct ModelValues {
  double wa, wp;  // arm and pendulum joint speeds
  double m, r1, r2, r3;
  double I11, I12, I13, I21, I22, I23, I31, I32, I33;
  double ma, ra1, ra3, Ia22;
  double g2;
  double c, s, R32, R33;
  double Ta11, Ta13, Ta31, Ta33;
  double Tp21, Tp23, Tp31, Tp33;
  double w2, w3;
};

ModelValues model_values(const ModelEntryArguments& a) {
  const double* w = a.auxiliaries;
  const double* x = a.states;
  return {.wa = x[1], .wp = x[3],
          .m = w[1369], .r1 = w[1366], .r2 = w[1367], .r3 = w[1368],
          .I11 = w[1410], .I12 = w[1411], .I13 = w[1412],
          .I21 = w[1413], .I22 = w[1414], .I23 = w[1415],
          .I31 = w[1416], .I32 = w[1417], .I33 = w[1418],
          .ma = w[1067], .ra1 = w[1064], .ra3 = w[1066], .Ia22 = w[1118],
          .g2 = w[1437],
          .c = w[1672], .s = w[1673], .R32 = w[1675], .R33 = w[1676],
          .Ta11 = w[994], .Ta13 = w[996], .Ta31 = w[1000], .Ta33 = w[1002],
          .Tp21 = w[1356], .Tp23 = w[1358], .Tp31 = w[1359], .Tp33 = w[1361],
          .w2 = w[1363], .w3 = w[1364]};
}

// Builds the system for sa = (pendulum, arm) into frictionSystem.A and .b.
void build_system(const ModelEntryArguments& a, const ModelValues& v, const BearingState& arm,
                  const BearingState& pendulum, Coefficients& q) {
  const double* w = a.auxiliaries;
  const auto [wa, wp, m, r1, r2, r3, I11, I12, I13, I21, I22, I23, I31, I32, I33, ma, ra1, ra3,
              Ia22, g2, c, s, R32, R33, Ta11, Ta13, Ta31, Ta33, Tp21, Tp23, Tp31, Tp33, w2, w3] = v;
  const double Lp = pendulum.locked ? 1.0 : 0.0;
  const double La = arm.locked ? 1.0 : 0.0;
  constexpr double L = ArmLength;

  q.oA = acceleration_offset(arm, w[fp::ArmTau0Max]);
  q.oP = acceleration_offset(pendulum, w[fp::PendulumTau0Max]);

  // Sliding torques; zero while locked.
  double Sa = 0.0;
  if (!arm.locked) {
    Sa = slides_forward(arm) ? arm_table(a, wa, ArmTableForward)
                             : -arm_table(a, -wa, ArmTableBackward);
  }
  double Sp = 0.0;
  if (!pendulum.locked) Sp = slides_forward(pendulum) ? w[fp::PendulumTau] : -w[fp::PendulumTau];

  const double u1 = w2 * r3 - w3 * r2;
  const double u2 = w3 * r1 - wp * r3;
  const double u3 = wp * r2 - w2 * r1;
  q.d1 = w2 * u3 - w3 * u2;
  q.d2 = w3 * u1 - wp * u3;
  q.d3 = wp * u2 - w2 * u1;
  q.h1 = I11 * wp + I12 * w2 + I13 * w3;
  q.h2 = I21 * wp + I22 * w2 + I23 * w3;
  q.h3 = I31 * wp + I32 * w2 + I33 * w3;
  q.G2 = (q.d2 - c * g2) * m;
  q.G3 = m * (q.d3 - R32 * g2);
  q.e2 = wp * R32 * wa;
  q.e3 = wp * c * wa;
  q.k1 = Ta11 * (wa * wa);
  q.k3 = Ta13 * (wa * wa);
  q.Jp = m * r3 * r3 + m * r2 * r2 + I11;
  q.K13 = m * r1 * r3 - I13;
  q.K12 = m * r1 * r2 - I12;
  q.N2 = m * Tp21 * r3 - m * Tp31 * r2;
  q.N3 = m * Tp23 * r3 - m * Tp33 * r2;
  q.Cpa = (R32 * q.K13 - (Ta31 * q.N2 + Ta33 * q.N3) * L) + c * q.K12;
  q.P = r1 * R32 - L * s;
  q.Q = -L * R33 - r1 * c;
  q.T = r3 * c - r2 * R32;
  q.Q2 = (m * Tp21 * q.P + m * Tp31 * q.Q) + m * Ta11 * q.T;
  q.Q3 = (m * Tp23 * q.P + m * Tp33 * q.Q) + m * Ta13 * q.T;
  q.B3 = m * r2 * q.T - m * r1 * q.P - I33 * R32 - I23 * c;
  q.B2 = m * r1 * q.Q - m * r3 * q.T - I32 * R32 - I22 * c;
  q.Cap = m * r3 * q.P - m * r2 * q.Q - I31 * R32 - I21 * c;
  q.Ja = (Ta31 * q.Q2 + Ta33 * q.Q3) * L + R32 * q.B3 + c * q.B2 - ma * ra1 * ra1 - ma * ra3 * ra3 -
         Ia22;

  const double Bp = q.Cpa * q.oA - L * q.N2 * q.k1 - L * q.N3 * q.k3 - q.K13 * q.e3 - q.Jp * q.oP;
  const double Ba = q.Ja * q.oA + L * q.Q2 * q.k1 + L * q.Q3 * q.k3 - q.B3 * q.e3 + q.Cap * q.oP -
                    q.P * q.G2 + q.B2 * q.e2 - q.Q * q.G3 - q.T * m * q.d1;

  FrictionSystemState& fs = frictionSystem;
  fs.A[0] = -(Lp + q.Jp * (1.0 - Lp));
  fs.A[1] = q.Cap * (1.0 - Lp);
  fs.A[2] = q.Cpa * (1.0 - La);
  fs.A[3] = q.Ja * (1.0 - La) - La;
  fs.b[0] = Sp - (Bp + r3 * q.G2 + q.K12 * q.e2 - r2 * q.G3 + w3 * q.h2 - w2 * q.h3);
  fs.b[1] = Sa - (Ba + (w2 * q.h1 - wp * q.h2) * R32 + c * (wp * q.h3 - w3 * q.h1) -
                  ra1 * ma * (wa * wa * ra3) + ra3 * ma * (wa * (wa * ra1)));
}

// Solves A·sa = b in correction form from the last evaluation's solution and stores sa. A
// rejected solve (or states that are not finite numbers) is kept in solverProblem; its values
// are used all the same.
void solve_system(const ModelEntryArguments& a, bool statesFinite) {
  FrictionSystemState& fs = frictionSystem;
  const int n = FrictionSystemSize;
  const int one = 1;
  const double minusOne = -1.0;
  const double plusOne = 1.0;
  const int systemNumber = SystemNumber;
  const int options = SystemOptions;
  ModelRuntimeState& rt = modelRuntime;

  fs.factorState = 0;
  fs.iterate[0] = saLast[0];
  fs.iterate[1] = saLast[1];
  dgemv_("N", &n, &n, &minusOne, fs.A, &n, fs.iterate, &one, &plusOne, fs.b, &one, 1);
  linsys_solve(&systemNumber, &options, fs.A, &n, &n, fs.b, a.time, &rt.event, &rt.printFlags,
               fs.work, fs.iwork, &fs.factorState, UnknownNames, &fs.errorWord);
  daxpy_(&n, &plusOne, fs.b, &one, fs.iterate, &one);
  // A state that is no finite number gives no solution, whatever the solver made of it.
  if (!statesFinite && fs.errorWord == 0) fs.errorWord = 1;
  if (fs.errorWord != 0) {
    fs.solverProblem = fs.errorWord;
    fs.errorWord = 0;
  }
  a.auxiliaries[fp::PendulumSa] = fs.iterate[0];
  a.auxiliaries[fp::ArmSa] = fs.iterate[1];
}

// The relative acceleration of a bearing from its sa.
double relative_acceleration(const BearingState& s, double sa, double tau0Max) {
  if (s.locked) return 0.0;
  return slides_forward(s) ? sa - tau0Max : sa + tau0Max;
}

// The state derivatives of the joint speeds and the cut forces and torques that follow.
void derivatives_and_cut_forces(const ModelEntryArguments& a, const ModelValues& v,
                                const BearingState& arm, const BearingState& pendulum,
                                const Coefficients& q) {
  double* w = a.auxiliaries;
  double* F = a.derivatives;
  const auto [wa, wp, m, r1, r2, r3, I11, I12, I13, I21, I22, I23, I31, I32, I33, ma, ra1, ra3,
              Ia22, g2, c, s, R32, R33, Ta11, Ta13, Ta31, Ta33, Tp21, Tp23, Tp31, Tp33, w2, w3] = v;

  F[1] = relative_acceleration(arm, w[fp::ArmSa], w[fp::ArmTau0Max]);
  end_equation_reset();
  w[1379] = (Ta31 * F[1] + q.k1) * (-0.245);
  w[1381] = (Ta33 * F[1] + q.k3) * (-0.245);
  w[1435] = R32 * F[1] - q.e3;
  F[3] = relative_acceleration(pendulum, w[fp::PendulumSa], w[fp::PendulumTau0Max]);
  w[1648] = -m * (Tp21 * w[1379] - c * g2 + Tp23 * w[1381] + w[1435] * r1 - F[3] * r3 + q.d2);
  w[1434] = c * F[1] + q.e2;
  w[1649] = -m * (Tp31 * w[1379] - R32 * g2 + Tp33 * w[1381] + F[3] * r2 - w[1434] * r1 + q.d3);
  w[1007] = -(s * w[1648] + R33 * w[1649]);
  w[1647] = -m * (Ta11 * w[1379] + Ta13 * w[1381] + w[1434] * r3 - w[1435] * r2 + q.d1);
  w[1652] = -(I31 * F[3] + I32 * w[1434] + I33 * w[1435] + wp * q.h2 - w2 * q.h1 + r2 * w[1647] -
              r1 * w[1648]);
  w[1650] = -(I11 * F[3] + I12 * w[1434] + I13 * w[1435] + w2 * q.h3 - w3 * q.h2 + r3 * w[1648] -
              r2 * w[1649]);
  w[1651] = -(I21 * F[3] + I22 * w[1434] + I23 * w[1435] + w3 * q.h1 - wp * q.h3 + r1 * w[1649] -
              r3 * w[1647]);
  w[1018] = c * w[1651] + R32 * w[1652];
  w[1008] = -(0.245 * w[1007] + w[1018]);
  w[1059] = -ma * (F[1] * ra1 + wa * wa * ra3);
  w[1057] = (F[1] * ra3 - wa * (wa * ra1)) * ma;
  w[1061] = Ia22 * F[1] + ra3 * w[1057] - ra1 * w[1059];
  w[1552] = -(w[1061] + w[1008]);
}

bool finite_states(const double* x) {
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]) && std::isfinite(x[3]);
}

}  // namespace

double& friction_iteration_variable(const ModelEntryArguments& a, int slot) {
  const IterationSlot& s = iterationSlots[slot];
  return s.derivative ? a.derivatives[s.position] : a.auxiliaries[s.position];
}

void save_friction_iteration_variables(const ModelEntryArguments& a,
                                       double (&values)[FrictionIterationVariableCount]) {
  // Unrolled, each slot's array and position are known where it is read.
#pragma GCC unroll 21
  for (int i = 0; i < FrictionIterationVariableCount; ++i) {
    const IterationSlot& s = iterationSlots[i];
    values[i] = s.derivative ? a.derivatives[s.position] : a.auxiliaries[s.position];
  }
}

void joint_kinematics(const ModelEntryArguments& a) {
  double* w = a.auxiliaries;
  const double* x = a.states;
  w[1672] = std::cos(x[2]);  // pendulumJoint.R_rel.T[2, 2]
  const double t = std::sin(x[2]);
  w[1675] = -t;                 // pendulumJoint.R_rel.T[3, 2]
  w[1364] = w[1675] * x[1];     // pendulum.body.frame_a.R.w[3]
  w[1363] = w[1672] * x[1];     // pendulum.body.frame_a.R.w[2]
  w[1676] = w[1672];            // pendulumJoint.R_rel.T[3, 3]
  w[1000] = std::sin(x[0]);     // arm.frameTranslation.frame_a.R.T[3, 1]
  w[1359] = w[1676] * w[1000];  // pendulum.body.frame_a.R.T[3, 1]
  w[994] = std::cos(x[0]);      // arm.frameTranslation.frame_a.R.T[1, 1]
  w[1002] = w[994];             // arm.frameTranslation.frame_a.R.T[3, 3]
  w[1361] = w[1676] * w[1002];  // pendulum.body.frame_a.R.T[3, 3]
  w[996] = -w[1000];            // arm.frameTranslation.frame_a.R.T[1, 3]
  w[1673] = t;                  // pendulumJoint.R_rel.T[2, 3]
  w[1356] = w[1673] * w[1000];  // pendulum.body.frame_a.R.T[2, 1]
  w[1358] = w[1673] * w[1002];  // pendulum.body.frame_a.R.T[2, 3]
}

bool friction_mixed_system(const ModelEntryArguments& a) {
  FrictionSystemState& fs = frictionSystem;
  ModelRuntimeState& rt = modelRuntime;
  const bool statesFinite = finite_states(a.states);
  const ModelValues v = model_values(a);
  int passChanged = 1;
  int pass = 0;
  for (;;) {
    if (fs.solverProblem != 0 && rt.event != 0 && passChanged == 0) {
      // At an event a rejected solve asks the event iteration for another pass.
      rt.changed = 1;
      fs.solverProblem = 0;
      rt.retryPassRequested = 1;
      break;
    }
    if (passChanged == 0) break;
    if (fs.solverProblem != 0 && pass > 0 && !(rt.printFlags & PrintFlagQuiet))
      log_message_line("Fixed point iterating to handle problem.");
    passChanged = 0;
    fs.solverProblem = 0;
    pass += 1;
    if (pass > FrictionPassLimit) {
      if (rt.printFlags & PrintFlagEvents)
        print_labelled_real("Fix point iteration did not converge at time :", rt.time);
      break;
    }

    const double* w = a.auxiliaries;
    const BearingState arm =
        bearing_state(w, fp::ArmLocked, fp::ArmStartForward, fp::ArmStartBackward, preValues[0]);
    const BearingState pendulum = bearing_state(w, fp::PendulumLocked, fp::PendulumStartForward,
                                                fp::PendulumStartBackward, preValues[1]);
    Coefficients q;
    build_system(a, v, arm, pendulum, q);
    solve_system(a, statesFinite);
    derivatives_and_cut_forces(a, v, arm, pendulum, q);
    passChanged = friction_boolean_pass(a, pass);
  }
  if (fs.solverProblem != 0) {
    // Outside events the rejection fails the evaluation; level 3 is skipped.
    *a.QiErr = fs.solverProblem;
    return false;
  }
  return true;
}
