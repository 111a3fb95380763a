// The bearings' stick/slip friction at the FMI boundary with the default parameters: the start
// state, states where both bearings hold and where both slide, the first event after the
// pendulum starts to move with its logged changes, a rejected friction solve outside events,
// and a one-second run in which the arm, held at first, breaks loose.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "fmi_fixture.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double StartAngle = 0.5235987755983;  // pendulumJoint.phi at the start
constexpr double ArmLength = 0.245;

// Auxiliaries of the friction system.
constexpr uint32_t ArmTau0Max = 1734;
constexpr uint32_t ArmSa = 1736;
constexpr uint32_t ArmStartForward = 1737;
constexpr uint32_t ArmLocked = 1739;
constexpr uint32_t ArmMode = 1745;
constexpr uint32_t PendulumTau0Max = 1753;
constexpr uint32_t PendulumSa = 1755;
constexpr uint32_t PendulumStartForward = 1756;
constexpr uint32_t PendulumLocked = 1758;
constexpr uint32_t PendulumMode = 1764;
constexpr uint32_t ArmFrictionTorque = 1552;  // armJoint.frame_b.t[2] (armBearingFriction.tau)

class Friction : public FmiTest {
 protected:
  explicit Friction(const FmiLibrary& library = tavelo()) : FmiTest(library) {}

  double get(fmiValueReference vr) {
    double v = NaN;
    EXPECT_EQ(lib.GetReal(c(), &vr, 1, &v), fmiOK);
    return v;
  }
  // Auxiliaries as level 3 leaves them.
  double aux(uint32_t i) { return get(WithLevel(AuxiliaryRef(i), 3)); }
  double parameter(uint32_t i) { return get(ParameterRef(i)); }

  std::vector<double> derivatives() {
    std::vector<double> d(4, NaN);
    EXPECT_EQ(lib.GetDerivatives(c(), d.data(), 4), fmiOK);
    return d;
  }
  void set_states(double t, std::vector<double> x) {
    ASSERT_EQ(lib.SetTime(c(), t), fmiOK);
    ASSERT_EQ(lib.SetContinuousStates(c(), x.data(), 4), fmiOK);
  }
  // Instantiates with these states as start values, then initialises.
  void start_at(std::vector<double> x, fmiBoolean loggingOn = fmiFalse) {
    create(loggingOn);
    ASSERT_EQ(lib.SetContinuousStates(c(), x.data(), 4), fmiOK);
    ASSERT_EQ(initialize(), fmiOK);
  }
  // The pendulum's acceleration while the arm is held, by hand: J·a = m·g·r·sin(phi) - tau,
  // J = I11 + m·r² (default parameters: no other mass terms about its axis).
  double pendulum_acceleration(double phi) {
    const double g = parameter(0), tau = parameter(13), r = parameter(36), m = parameter(38),
                 I11 = parameter(39);
    return (m * g * r * std::sin(phi) - tau) / (I11 + m * r * r);
  }
};

TEST_F(Friction, AtTheStartThePendulumSlidesAndTheArmIsHeld) {
  create_initialized();
  const std::vector<double> d = derivatives();
  const double a = pendulum_acceleration(StartAngle);
  EXPECT_GT(a, 0.0);
  EXPECT_NEAR(d[3], a, 1e-12 * a);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[2], 0.0);

  EXPECT_EQ(aux(ArmLocked), 1.0);
  EXPECT_EQ(aux(PendulumLocked), 0.0);
  EXPECT_EQ(aux(PendulumStartForward), 1.0);
  EXPECT_EQ(aux(ArmMode), 0.0);  // both at rest: Stuck
  EXPECT_EQ(aux(PendulumMode), 0.0);
  // The arm's holding torque: the rate of the pendulum's angular momentum about the arm's axis.
  const double holding = parameter(38) * ArmLength * parameter(36) * std::cos(StartAngle) * a;
  EXPECT_NEAR(aux(ArmSa), holding, 1e-12 * holding);
  EXPECT_NEAR(aux(ArmFrictionTorque), holding, 1e-12 * holding);
  EXPECT_EQ(aux(ArmTau0Max), 0.012);
  EXPECT_LT(std::fabs(aux(ArmSa)), aux(ArmTau0Max));
}

// States at rest whose gravity torque the pendulum's bearing holds: both bearings stay locked
// and nothing accelerates.
TEST_F(Friction, StatesWhereBothBearingsStayLocked) {
  create_initialized();
  const double held[][2] = {
      {0.0, 0.0}, {1.0, 0.02}, {-2.0, -0.02}, {0.5, std::numbers::pi}, {3.0, -std::numbers::pi}};
  double t = 0.0;
  for (const auto& angles : held) {
    SCOPED_TRACE(testing::Message() << "arm " << angles[0] << ", pendulum " << angles[1]);
    t += 0.25;
    set_states(t, {angles[0], 0.0, angles[1], 0.0});
    fmiEventInfo info{};
    ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
    ASSERT_EQ(lib.SetTime(c(), t + 0.125), fmiOK);  // a fresh evaluation outside events
    EXPECT_EQ(derivatives(), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(aux(ArmLocked), 1.0);
    EXPECT_EQ(aux(PendulumLocked), 1.0);
    EXPECT_LE(std::fabs(aux(PendulumSa)), aux(PendulumTau0Max));
  }
}

// Started moving, both bearings slide, each mode following its speed; the accelerations are sa
// shifted by the breakaway torque against the motion.
TEST_F(Friction, AStateWhereBothSlide) {
  struct Case {
    double armSpeed, pendulumSpeed;
  };
  for (const Case k : {Case{1.0, -2.0}, Case{-1.5, 0.75}}) {
    SCOPED_TRACE(testing::Message() << k.armSpeed << ", " << k.pendulumSpeed);
    start_at({0.3, k.armSpeed, 2.0, k.pendulumSpeed});
    ASSERT_EQ(lib.SetTime(c(), 0.001), fmiOK);
    const std::vector<double> d = derivatives();
    EXPECT_EQ(aux(ArmLocked), 0.0);
    EXPECT_EQ(aux(PendulumLocked), 0.0);
    EXPECT_EQ(aux(ArmMode), k.armSpeed > 0 ? 1.0 : -1.0);
    EXPECT_EQ(aux(PendulumMode), k.pendulumSpeed > 0 ? 1.0 : -1.0);
    EXPECT_EQ(d[0], k.armSpeed);
    EXPECT_EQ(d[2], k.pendulumSpeed);
    const double armShift = k.armSpeed > 0 ? -aux(ArmTau0Max) : aux(ArmTau0Max);
    const double pendulumShift = k.pendulumSpeed > 0 ? -aux(PendulumTau0Max) : aux(PendulumTau0Max);
    EXPECT_EQ(d[1], aux(ArmSa) + armShift);
    EXPECT_EQ(d[3], aux(PendulumSa) + pendulumShift);
    EXPECT_NE(d[1], 0.0);
    instance.reset();
  }
}

// Through the test build, whose change logging can be switched on.
class FrictionEvents : public Friction {
 protected:
  FrictionEvents() : Friction(tavelo_faults()) {}
  void SetUp() override {
    Friction::SetUp();
    ASSERT_NE(lib.testSetPrintFlags, nullptr);
  }
  void TearDown() override {
    if (lib.testSetPrintFlags) lib.testSetPrintFlags(0);
    Friction::TearDown();
  }
};

// One explicit step from the start: the pendulum's speed crosses zero upward; the event update
// makes its mode Forward. With change logging on, the update logs what changed, pass by pass;
// debug logging alone does not turn that on.
TEST_F(FrictionEvents, FirstEventAfterThePendulumStartsToMove) {
  for (const bool changeLogging : {true, false}) {
    SCOPED_TRACE(changeLogging ? "change logging" : "debug logging only");
    lib.testSetPrintFlags(0);
    create_initialized(fmiTrue);
    double x[4], z0[32], z[32];
    ASSERT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
    ASSERT_EQ(lib.GetEventIndicators(c(), z0, 32), fmiOK);
    const std::vector<double> d = derivatives();
    for (int i = 0; i < 4; ++i) x[i] += 1e-3 * d[i];
    set_states(1e-3, {x[0], x[1], x[2], x[3]});
    ASSERT_EQ(lib.GetEventIndicators(c(), z, 32), fmiOK);
    // Indicators 22 and 23: relation 11, pendulumJoint.w > 0; no other crosses.
    for (int i = 0; i < 32; ++i)
      EXPECT_EQ((z0[i] > 0) != (z[i] > 0), i == 22 || i == 23) << "indicator " << i;
    EXPECT_EQ(aux(PendulumMode), 0.0);

    lib.testSetPrintFlags(changeLogging ? 0x2 : 0);
    logged_messages().clear();
    fmiEventInfo info{};
    ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
    EXPECT_EQ(aux(PendulumMode), 1.0);
    EXPECT_EQ(aux(ArmMode), 0.0);
    EXPECT_EQ(aux(PendulumStartForward), 0.0);  // moving Forward needs no start any more
    EXPECT_EQ(aux(PendulumLocked), 0.0);
    EXPECT_EQ(aux(ArmLocked), 1.0);
    if (changeLogging) {
      EXPECT_EQ(logged_texts(),
                (std::vector<std::string>{
                    "Expression pendulumJoint.w > 0 became true ( (pendulumJoint.w)-(0) = "
                    "0.0063325 )\n",
                    "  Variable pendulumBearingFriction.mode = 1 at time 0.001\n",
                    "Iterating to find consistent restart conditions.\n",
                    "  Variable pendulumBearingFriction.startForward = 0 at time 0.001\n",
                    "  Variable pendulumBearingFriction.startForward = 0 at time 0.001\n",
                    "Iterating to find consistent restart conditions.\n",
                    "      during event at Time :  0.001\n"}));
    } else {
      EXPECT_TRUE(logged_texts().empty());
    }
    instance.reset();
  }
}

// A friction solve that the solver rejects outside events: the request is discarded, and the
// next one evaluates again rather than answering from what the failed pass left.
TEST_F(Friction, RejectedSolveOutsideEventsIsDiscardedAndEvaluatedAgain) {
  struct Case {
    const char* what;
    std::vector<double> states;
  };
  const Case cases[] = {
      {"speeds beyond the range of the terms", {0.0, 1e200, StartAngle, 0.0}},
      {"a speed that is no number", {0.0, 0.0, StartAngle, NaN}},
      {"an angle that is no number", {NaN, 0.0, StartAngle, 0.0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    create_initialized(fmiTrue);
    ASSERT_EQ(lib.SetTime(c(), 0.5), fmiOK);
    ASSERT_EQ(lib.SetContinuousStates(c(), k.states.data(), 4), fmiOK);

    struct Request {
      const char* message;
      std::function<fmiStatus()> call;
    };
    double d[4], z[32], r;
    const fmiValueReference vr = WithLevel(DerivativeRef(3), 2);
    const Request requests[] = {
        {"fmiGetDerivatives: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetDerivatives(c(), d, 4); }},
        {"fmiGetEventIndicators: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetEventIndicators(c(), z, 32); }},
        {"fmiGetReal: dsblock_ failed, QiErr = 1\n", [&] { return lib.GetReal(c(), &vr, 1, &r); }},
    };
    for (const Request& q : requests) {
      SCOPED_TRACE(q.message);
      for (int repeat = 0; repeat < 2; ++repeat) {
        logged_messages().clear();
        // The pendulum's breakaway relation is recomputed by every evaluation, failed or not.
        m().eventIndicators[16] = Sentinel;
        EXPECT_EQ(q.call(), fmiDiscard);
        EXPECT_NE(m().eventIndicators[16], Sentinel);
        EXPECT_EQ(m().computedLevel, 0);
        const std::vector<std::string> texts = logged_texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), q.message);
        EXPECT_EQ(logged_messages().back().status, fmiDiscard);
        int reports = 0;
        for (const std::string& t : texts)
          reports += t == "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 0.5\n";
        EXPECT_LE(reports, 1);  // the solver's own report, at most once per evaluation
      }
    }
    // Finite states again: the same instance answers, and the rejection that the failed call
    // left behind sets off no fixed-point iteration notice.
    logged_messages().clear();
    set_states(0.5, {0.0, 0.0, StartAngle, 0.0});
    const std::vector<double> good = derivatives();
    EXPECT_NEAR(good[3], pendulum_acceleration(StartAngle), 1e-9);
    for (const std::string& t : logged_texts())
      EXPECT_NE(t, "Fixed point iterating to handle problem.\n");
    instance.reset();
  }
}

// One second with the classical Runge-Kutta method at a fixed step through the FMI calls:
// event indicators after every step, an event update where one changed sign, the completed-step
// call every step. The pendulum falls while its weight is turned into a growing torque on the
// held arm, until the arm breaks loose; every event update settles.
TEST_F(Friction, OneSecondRunThePendulumFallsThenTheArmBreaksLoose) {
  create_initialized();
  const double h = 1e-4;
  double x[4], z[32], zOld[32];
  ASSERT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
  ASSERT_EQ(lib.GetEventIndicators(c(), zOld, 32), fmiOK);
  auto f = [&](double t, const double* state, double* out) {
    ASSERT_EQ(lib.SetTime(c(), t), fmiOK);
    ASSERT_EQ(lib.SetContinuousStates(c(), state, 4), fmiOK);
    ASSERT_EQ(lib.GetDerivatives(c(), out, 4), fmiOK) << "at " << t;
  };
  int events = 0;
  double breakLoose = -1.0;
  double largestHeldTorque = 0.0;
  for (int n = 1; n <= 10000; ++n) {
    const double t = (n - 1) * h;
    // Between events the Booleans stay as the last event left them: a held arm stays at rest.
    const bool armHeld = aux(ArmLocked) == 1.0;
    if (!armHeld && breakLoose < 0) breakLoose = t;
    double k1[4], k2[4], k3[4], k4[4], s[4];
    f(t, x, k1);
    for (int i = 0; i < 4; ++i) s[i] = x[i] + h / 2 * k1[i];
    f(t + h / 2, s, k2);
    for (int i = 0; i < 4; ++i) s[i] = x[i] + h / 2 * k2[i];
    f(t + h / 2, s, k3);
    for (int i = 0; i < 4; ++i) s[i] = x[i] + h * k3[i];
    f(t + h, s, k4);
    if (HasFatalFailure()) return;
    for (int i = 0; i < 4; ++i) x[i] += h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
    ASSERT_EQ(lib.SetTime(c(), n * h), fmiOK);
    ASSERT_EQ(lib.SetContinuousStates(c(), x, 4), fmiOK);
    ASSERT_EQ(lib.GetEventIndicators(c(), z, 32), fmiOK);
    bool crossed = false;
    for (int i = 0; i < 32; ++i) crossed = crossed || (z[i] > 0) != (zOld[i] > 0);
    if (breakLoose < 0) {
      ASSERT_EQ(x[0], 0.0) << "at " << n * h;
      ASSERT_EQ(x[1], 0.0) << "at " << n * h;
      // Held below its limit until a crossing of it.
      if (!crossed) largestHeldTorque = std::max(largestHeldTorque, std::fabs(aux(ArmSa)));
    }
    if (crossed) {
      fmiEventInfo info{};
      ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK) << "at " << n * h;
      ++events;
      ASSERT_EQ(lib.GetEventIndicators(c(), z, 32), fmiOK);
    }
    for (int i = 0; i < 32; ++i) zOld[i] = z[i];
    fmiBoolean callEventUpdate = fmiTrue;
    ASSERT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
    EXPECT_EQ(callEventUpdate, fmiFalse);
  }
  EXPECT_EQ(aux(PendulumMode), 1.0);
  EXPECT_NE(aux(ArmMode), 0.0);
  EXPECT_GT(x[2], StartAngle + 1.0);  // the pendulum has fallen well over
  EXPECT_GT(breakLoose, 0.1);
  EXPECT_LT(breakLoose, 0.9);
  EXPECT_NE(x[1], 0.0);
  EXPECT_GT(largestHeldTorque, 0.9 * 0.012);
  EXPECT_LT(largestHeldTorque, 0.012 + 1e-12);
  EXPECT_GE(events, 3);
  EXPECT_LE(events, 20);
}

}  // namespace
