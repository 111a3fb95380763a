// The friction Booleans: the 16 relations with their texts, differences, scales and crossing
// values; the start and locked rules with their short-circuit order; the sweeps with their
// change logging; and the shortening of the step at events.
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

class FrictionBooleansTest : public FrictionTest {
 protected:
  ModelEntryArguments args() { return FrictionTest::args(&demand_, &QiErr_); }
  bool relation(int k) { return friction_relation(args(), k); }
  int boolean_pass(int pass) { return friction_boolean_pass(args(), pass); }

  // The Booleans as stored: arm startForward, startBackward, locked, then the pendulum's.
  std::vector<double> booleans() const {
    return {w[fp::ArmStartForward],      w[fp::ArmStartBackward],      w[fp::ArmLocked],
            w[fp::PendulumStartForward], w[fp::PendulumStartBackward], w[fp::PendulumLocked]};
  }
  std::vector<int> evaluated() const {
    std::vector<int> out;
    for (int k = 0; k < 16; ++k)
      if (relation_hysteresis.evaluatedBefore[k]) out.push_back(k);
    return out;
  }

  int32_t demand_ = DemandEventUpdate;
  int32_t QiErr_ = 0;
};

// Each relation, made to switch at an event with change logging on: the texts it logs (to the
// blank), its difference, its scale max(1, |lhs|) and both crossing values z - hyst.
TEST_F(FrictionBooleansTest, RelationsAtAnEvent) {
  w[fp::ArmSa] = 10.0;
  w[fp::ArmTau0Max] = 2.0;
  w[fp::ArmTau0] = 1.0;
  x[1] = 0.5;
  dp[59] = 3.0;  // armBearingFriction.w_small
  w[fp::PendulumSa] = -10.0;
  w[fp::PendulumTau0Max] = 2.0;
  w[fp::PendulumTau] = 1.0;
  x[3] = -4.0;
  dp[61] = 3.0;  // pendulumBearingFriction.w_small
  struct Case {
    const char* text;
    const char* difference;
    double z;
    double scale;
    bool value;
  };
  const Case cases[16] = {
      {"armBearingFriction.sa > armBearingFriction.tau0_max",
       "(armBearingFriction.sa)-(armBearingFriction.tau0_max)", 8, 10, true},
      {"armBearingFriction.sa > armBearingFriction.tau0",
       "(armBearingFriction.sa)-(armBearingFriction.tau0)", 9, 10, true},
      {"armJoint.w > armBearingFriction.w_small", "(armJoint.w)-(armBearingFriction.w_small)", -2.5,
       1, false},
      {"armJoint.w > 0", "(armJoint.w)-(0)", 0.5, 1, true},
      {"armBearingFriction.sa <  -armBearingFriction.tau0_max",
       "(armBearingFriction.sa)-( -armBearingFriction.tau0_max)", 12, 10, false},
      {"armBearingFriction.sa <  -armBearingFriction.tau0",
       "(armBearingFriction.sa)-( -armBearingFriction.tau0)", 11, 10, false},
      {"armJoint.w <  -armBearingFriction.w_small", "(armJoint.w)-( -armBearingFriction.w_small)",
       3.5, 1, false},
      {"armJoint.w < 0", "(armJoint.w)-(0)", 0.5, 1, false},
      {"pendulumBearingFriction.sa > pendulumBearingFriction.tau0_max",
       "(pendulumBearingFriction.sa)-(pendulumBearingFriction.tau0_max)", -12, 10, false},
      {"pendulumBearingFriction.sa > pendulumBearingFriction.tau_pos[1, 2]",
       "(pendulumBearingFriction.sa)-(pendulumBearingFriction.tau_pos[1, 2])", -11, 10, false},
      {"pendulumJoint.w > pendulumBearingFriction.w_small",
       "(pendulumJoint.w)-(pendulumBearingFriction.w_small)", -7, 4, false},
      {"pendulumJoint.w > 0", "(pendulumJoint.w)-(0)", -4, 4, false},
      {"pendulumBearingFriction.sa <  -pendulumBearingFriction.tau0_max",
       "(pendulumBearingFriction.sa)-( -pendulumBearingFriction.tau0_max)", -8, 10, true},
      {"pendulumBearingFriction.sa <  -pendulumBearingFriction.tau_pos[1, 2]",
       "(pendulumBearingFriction.sa)-( -pendulumBearingFriction.tau_pos[1, 2])", -9, 10, true},
      {"pendulumJoint.w <  -pendulumBearingFriction.w_small",
       "(pendulumJoint.w)-( -pendulumBearingFriction.w_small)", -1, 4, true},
      {"pendulumJoint.w < 0", "(pendulumJoint.w)-(0)", -4, 4, true},
  };
  modelRuntime.event = 1;
  modelRuntime.printFlags = PrintFlagEvents;
  RelationHysteresis& rh = relation_hysteresis;
  for (int k = 0; k < 16; ++k) {
    SCOPED_TRACE(cases[k].text);
    const Case& c = cases[k];
    rh.value[k] = c.value ? 0 : 1;  // so that it switches and logs
    LogCapture log;
    EXPECT_EQ(relation(k), c.value);
    EXPECT_EQ(rh.z[k], c.z);
    EXPECT_EQ(rh.scale[k], c.scale);
    EXPECT_EQ(std::fabs(rh.nominal[k]), 1e-10 * c.scale);
    EXPECT_NE(rh.hyst[k], 0.0);
    EXPECT_EQ(ei[2 * k], c.z - rh.hyst[k]);
    EXPECT_EQ(ei[2 * k + 1], ei[2 * k]);
    EXPECT_EQ(rh.evaluatedBefore[k], 1);
    char expected[400];
    std::snprintf(expected, sizeof expected, "Expression %s became %s ( %s = %g )\n", c.text,
                  c.value ? "true" : "false", c.difference, c.z);
    EXPECT_EQ(log.texts(), Lines{expected});
  }
  EXPECT_EQ(modelRuntime.changed, 1);
}

// Outside events a relation keeps its value and offset; its difference and crossing values are
// recomputed all the same.
TEST_F(FrictionBooleansTest, RelationsOutsideEventsKeepTheirValue) {
  RelationHysteresis& rh = relation_hysteresis;
  rh.value[0] = 0;
  rh.hyst[0] = 0.25;
  w[fp::ArmSa] = 0.5;
  w[fp::ArmTau0Max] = -1.0;  // lhs > rhs, but the value stays
  EXPECT_FALSE(relation(0));
  EXPECT_EQ(rh.hyst[0], 0.25);
  EXPECT_EQ(ei[0], 1.5 - 0.25);
  EXPECT_EQ(ei[1], 1.5 - 0.25);
  EXPECT_EQ(rh.scale[0], 1.0);
  EXPECT_EQ(rh.evaluatedBefore[0], 1);
  EXPECT_EQ(modelRuntime.changed, 0);
}

// A relation that switches back and forth near its switching point late in an event iteration
// widens its offset tenfold: from the sixth pass on, and while |z| lies below 1e-4 of its scale
// max(1, |lhs|). The arm's torque of 10 against a limit just below it and just above it in
// turn: |z| = 2^-11 lies above 1e-4 but below 1e-4·10. In an earlier pass, or farther from the
// limit than that, a switch makes the offset at least eps and widens it no further.
TEST_F(FrictionBooleansTest, LateSwitchesWidenTheOffsetFromTheSixthPass) {
  modelRuntime.event = 1;
  RelationHysteresis& rh = relation_hysteresis;
  rh.value[0] = 0;
  rh.hyst[0] = 1e-15;  // as an evaluation far below the limit in an earlier pass left it
  rh.evaluatedBefore[0] = 1;
  w[fp::ArmSa] = 10.0;  // scale 10: eps 1e-9, tolerance 1e-3
  const double z = 0x1p-11;
  struct Case {
    int eventIteration;
    double tau0Max;
    bool value;
    double hyst;
  };
  const Case cases[] = {
      {5, 10.0 - z, true, -1e-9},      // switches on: the offset becomes eps
      {5, 10.0 + z, false, 1e-9},      // off again in the same pass: still eps, not yet widened
      {6, 10.0 - z, true, -1e-8},      // on again in the sixth pass: ten times the offset
      {6, 10.0 + 4 * z, false, 1e-8},  // off with |z| = 2^-9, above the tolerance: no wider
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << &c - cases << ", pass " << c.eventIteration);
    modelRuntime.eventIteration = c.eventIteration;
    w[fp::ArmTau0Max] = c.tau0Max;
    EXPECT_EQ(relation(0), c.value);
    EXPECT_EQ(rh.scale[0], 10.0);
    EXPECT_DOUBLE_EQ(rh.hyst[0], c.hyst);
  }
}

// The rules of one sweep (pass 1, no step search), from the pre values: which Booleans result
// and which relations the short-circuit evaluation reaches. The pendulum's rules mirror the
// arm's on relations 8 .. 15.
TEST_F(FrictionBooleansTest, RulesAndTheRelationsTheyReach) {
  struct Case {
    const char* what;
    double preMode, preForward, preBackward;
    int initial;
    double sa, speed;
    std::vector<double> arm;  // startForward, startBackward, locked
    std::vector<int> reached;
  };
  // Breakaway torques tau0_max 0.012 and tau0 0.01, w_small 0.5.
  const Case cases[] = {
      {"first initialisation pass at rest", ModeUnknown, 0, 0, 1, 0.0, 0.0, {0, 0, 1}, {3, 7}},
      {"moving at the first initialisation pass",
       ModeUnknown,
       0,
       0,
       1,
       0.0,
       0.25,
       {1, 0, 0},
       {3, 7}},
      {"stuck, held", ModeStuck, 0, 0, 0, 0.005, 0.0, {0, 0, 1}, {0, 4}},
      {"stuck, torque beyond the limit", ModeStuck, 0, 0, 0, 0.02, 0.0, {1, 0, 0}, {0, 4}},
      {"stuck, just at the limit", ModeStuck, 0, 0, 0, 0.012, 0.0, {0, 0, 1}, {0, 4}},
      {"stuck, beyond tau0 but not starting", ModeStuck, 0, 0, 0, 0.011, 0.0, {0, 0, 1}, {0, 4}},
      {"starting forward, torque beyond tau0",
       ModeStuck,
       1,
       0,
       0,
       0.011,
       0.0,
       {1, 0, 0},
       {0, 1, 4}},
      {"starting forward, torque at tau0", ModeStuck, 1, 0, 0, 0.01, 0.0, {0, 0, 1}, {0, 1, 4}},
      {"starting backward, beyond the limit", ModeStuck, 0, 1, 0, -0.02, 0.0, {0, 1, 0}, {0, 4}},
      {"starting backward, beyond -tau0", ModeStuck, 0, 1, 0, -0.011, 0.0, {0, 1, 0}, {0, 4, 5}},
      {"forward, slowing", ModeForward, 0, 0, 0, 0.0, -0.25, {0, 0, 0}, {6}},
      {"forward, reversing fast", ModeForward, 0, 0, 0, 0.0, -0.75, {0, 1, 0}, {6}},
      {"backward, reversing fast", ModeBackward, 0, 0, 0, 0.0, 0.75, {1, 0, 0}, {2}},
      {"free", ModeFree, 0, 0, 0, 0.5, 0.75, {0, 0, 1}, {}},
  };
  for (const Case& c : cases) {
    for (const bool pendulum : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (pendulum ? ", pendulum" : ", arm"));
      SetUp();
      modelRuntime.event = 1;
      modelRuntime.initial = c.initial;
      w[fp::ArmTau0Max] = w[fp::PendulumTau0Max] = 0.012;
      w[fp::ArmTau0] = w[fp::PendulumTau] = 0.01;
      dp[59] = dp[61] = 0.5;
      // The other bearing stays Free at rest (it reaches no relation and stays locked).
      set_pre_modes(pendulum ? ModeFree : c.preMode, pendulum ? c.preMode : ModeFree);
      preValues[pendulum ? 4 : 2] = c.preForward;
      preValues[pendulum ? 5 : 3] = c.preBackward;
      w[pendulum ? fp::PendulumSa : fp::ArmSa] = c.sa;
      x[pendulum ? 3 : 1] = c.speed;
      // Stored before the pass: the opposite of the expected values, so every one changes.
      for (const int p : {fp::ArmStartForward, fp::PendulumStartForward, fp::ArmStartBackward,
                          fp::PendulumStartBackward})
        w[p] = 1.0;
      w[fp::ArmLocked] = w[fp::PendulumLocked] = 0.0;
      const std::vector<double> expected = c.arm;
      for (int i = 0; i < 3; ++i)
        w[(pendulum ? fp::PendulumStartForward : fp::ArmStartForward) + i] = 1.0 - expected[i];

      EXPECT_EQ(boolean_pass(1), 1);
      const std::vector<double> b = booleans();
      const std::vector<double> own(b.begin() + (pendulum ? 3 : 0), b.begin() + (pendulum ? 6 : 3));
      const std::vector<double> other(b.begin() + (pendulum ? 0 : 3),
                                      b.begin() + (pendulum ? 3 : 6));
      EXPECT_EQ(own, expected);
      EXPECT_EQ(other, (std::vector<double>{0, 0, 1}));
      std::vector<int> reached = c.reached;
      if (pendulum)
        for (int& k : reached) k += 8;
      // At initialisation the other bearing reaches its speed relations as well.
      if (c.initial)
        reached.insert(pendulum ? reached.begin() : reached.end(),
                       {pendulum ? 3 : 11, pendulum ? 7 : 15});
      EXPECT_EQ(evaluated(), reached);
    }
  }
}

// With change logging on, each Boolean that changes is logged with the result of a second
// evaluation of its rule, in the sweep's order.
TEST_F(FrictionBooleansTest, SweepLogsChangesInItsOrder) {
  LogCapture log;
  modelRuntime.event = 1;
  modelRuntime.time = 0.5;
  modelRuntime.printFlags = PrintFlagEvents;
  set_pre_modes(ModeStuck, ModeStuck);
  w[fp::ArmSa] = 1.0;        // beyond the limit: starts forward
  w[fp::PendulumSa] = -1.0;  // starts backward
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
  EXPECT_EQ(boolean_pass(1), 1);
  Lines changes;
  for (const std::string& t : log.texts())
    if (t.rfind("  Variable ", 0) == 0) changes.push_back(t);
  EXPECT_EQ(changes, (Lines{"  Variable armBearingFriction.startForward = 1 at time 0.5\n",
                            "  Variable armBearingFriction.locked = 0 at time 0.5\n",
                            "  Variable pendulumBearingFriction.startBackward = 1 at time 0.5\n",
                            "  Variable pendulumBearingFriction.locked = 0 at time 0.5\n"}));
  // Without the bit the same changes are made silently.
  SetUp();
  LogCapture quiet;
  modelRuntime.event = 1;
  set_pre_modes(ModeStuck, ModeStuck);
  w[fp::ArmSa] = 1.0;
  w[fp::PendulumSa] = -1.0;
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
  EXPECT_EQ(boolean_pass(1), 1);
  EXPECT_EQ(booleans(), (std::vector<double>{1, 0, 0, 0, 1, 0}));
  EXPECT_TRUE(quiet.texts().empty());
}

// The logged value of a changed Boolean comes from a second evaluation of its rule, which calls
// event_relation once more for the relations it reaches: during initialisation that second call
// widens the offset of a relation far from its switching point from a millionth of its epsilon
// to the epsilon, so with change logging on the hysteresis after the sweep differs.
TEST_F(FrictionBooleansTest, LoggingEvaluatesTheRulesOfChangedBooleansAgain) {
  struct Case {
    int printFlags;
    double hyst;  // of relation 3, armJoint.w > 0
  };
  for (const Case c : {Case{PrintFlagEvents, -1e-10}, Case{0, -1e-16}}) {
    SCOPED_TRACE(c.printFlags);
    SetUp();
    LogCapture log;
    modelRuntime.event = 1;
    modelRuntime.initial = 1;
    modelRuntime.EventEpsilon = 1e-10;
    modelRuntime.printFlags = c.printFlags;
    set_pre_modes(ModeUnknown, ModeUnknown);
    x[1] = 0.5;  // the arm starts forward by the initial term
    w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;
    EXPECT_EQ(boolean_pass(1), 1);
    EXPECT_EQ(booleans(), (std::vector<double>{1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(relation_hysteresis.hyst[3], c.hyst);
    EXPECT_EQ(ei[6], 0.5 - c.hyst);
    EXPECT_EQ(ei[7], 0.5 - c.hyst);
    const Lines expected =
        c.printFlags ? Lines{"  Variable armBearingFriction.startForward = 1 at time 0\n",
                             "  Variable armBearingFriction.locked = 0 at time 0\n"}
                     : Lines{};
    EXPECT_EQ(log.texts(), expected);
  }
}

// The step shortening at events. Both bearings after a Backward mode: each sweep reaches only
// relation 2 (armJoint.w > w_small) and relation 10 (pendulumJoint.w > w_small), whose
// differences are the speeds (w_small 0). The crossings are set up through the differences
// before the pass and the speeds after it, as fractions of the step from the one to the other.
class StepShorteningTest : public FrictionBooleansTest {
 protected:
  void SetUp() override {
    FrictionBooleansTest::SetUp();
    modelRuntime.event = 1;
    modelRuntime.printFlags = PrintFlagEvents;
    dp[59] = dp[61] = 0.0;
    set_pre_modes(ModeBackward, ModeBackward);
    // Old iteration variables i, new ones i + 4096·(i + 1).
    for (int i = 0; i < FrictionIterationVariableCount; ++i) {
      frictionSystem.oldValues[i] = i;
      friction_iteration_variable(args(), i) = i + 4096.0 * (i + 1);
    }
  }
  // Relation k's difference before the pass, and after it.
  void crossing(int k, double before, double after, bool evaluatedBefore = true) {
    relation_hysteresis.z[k] = before;
    relation_hysteresis.evaluatedBefore[k] = evaluatedBefore ? 1 : 0;
    relation_hysteresis.value[k] = before > 0.0;
    x[k == 2 ? 1 : 3] = after;
  }
  std::string shorter_line(const LogCapture& log) const {
    for (const std::string& t : log.texts())
      if (t.rfind("Shorter attempt for mixed equation system ", 0) == 0) return t;
    return "";
  }
};

TEST_F(StepShorteningTest, StepGoesJustPastTheFirstCrossing) {
  const double justBelow = std::nextafter(0.999, 0.0);
  const double twoPow41 = std::ldexp(1.0, 41);
  const double atTolerance = 0.5 + 1e-12;  // its crossing fraction, exact: 1 - it is exact
  struct Case {
    const char* what;
    double before2, after2, before10, after10;  // relation 2's and 10's differences
    const char* step;                           // the logged step, or null: no shortening
  };
  const Case cases[] = {
      // 0.75 then 0.25: the later one first in relation order; min((0.25 + 0.75)/2, 0.251).
      {"first crossing at 0.25, next at 0.75", -3, 1, -1, 3, "0.251"},
      // 0.5 and 0.5 + 2^-11: their midpoint lies within 0.001 of the first.
      {"two crossings close together", -1, 1, -1025, 1023, "0.500244140625"},
      // The same two, the later one first: the first found becomes the next crossing.
      {"two close crossings, the later one found first", -1025, 1023, -1, 1, "0.500244140625"},
      // 0.5 and 0.5 + 2^-41: less than 1e-12 apart, the second is no next crossing.
      {"two crossings within the tolerance", -1, 1, -(twoPow41 + 2), twoPow41 - 2, "0.501"},
      // The same two the other way round: the crossing it replaces as the first is no next one.
      {"a crossing within the tolerance before the first found", -(twoPow41 + 2), twoPow41 - 2,
       -1, 1, "0.501"},
      // 0.5 and 0.5 + 1e-12 exactly: not more than the tolerance apart.
      {"two crossings the tolerance apart", -1, 1, -atTolerance, 1 - atTolerance, "0.501"},
      {"the same two the other way round", -atTolerance, 1 - atTolerance, -1, 1, "0.501"},
      {"one crossing at 0.999", -0.999, 0.001, 5, 5, nullptr},
      // No next crossing: the midpoint to the full step, (0.999 + 1)/2.
      {"one crossing just below 0.999", -justBelow, 1 - justBelow, 5, 5, "0.9994999999999999"},
      {"no sign change", 0.5, 2, -1, -3, nullptr},
      {"starting exactly on zero", 0, 1, -1, -3, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    LogCapture log;
    crossing(2, c.before2, c.after2);
    crossing(10, c.before10, c.after10);
    const int changed = boolean_pass(2);
    if (c.step == nullptr) {
      EXPECT_EQ(shorter_line(log), "");
      for (int i = 0; i < FrictionIterationVariableCount; ++i)  // the new values, kept
        EXPECT_EQ(frictionSystem.oldValues[i], friction_iteration_variable(args(), i)) << i;
    } else {
      EXPECT_EQ(changed, 1);
      EXPECT_EQ(shorter_line(log),
                std::string("Shorter attempt for mixed equation system ") + c.step + "\n");
    }
  }
}

// The 21 iteration variables move to old + (new - old)·step, in their own slots, and become the
// old values; the Booleans are then decided again at the shortened step.
TEST_F(StepShorteningTest, InterpolationOfTheIterationVariables) {
  crossing(2, -1, 1);
  crossing(10, -1025, 1023);  // step 0.5 + 2^-12
  const double step = 0.5 + std::ldexp(1.0, -12);
  EXPECT_EQ(boolean_pass(2), 1);
  for (int i = 0; i < FrictionIterationVariableCount; ++i) {
    const double expected = i + 4096.0 * (i + 1) * step;  // exact in doubles
    EXPECT_EQ(friction_iteration_variable(args(), i), expected) << "slot " << i;
    EXPECT_EQ(frictionSystem.oldValues[i], expected) << "slot " << i;
  }
  // Slots 16, 17, 19 and 20 are the arm's sa and acceleration and the pendulum's.
  EXPECT_EQ(&friction_iteration_variable(args(), 16), &w[fp::ArmSa]);
  EXPECT_EQ(&friction_iteration_variable(args(), 17), &F[1]);
  EXPECT_EQ(&friction_iteration_variable(args(), 19), &w[fp::PendulumSa]);
  EXPECT_EQ(&friction_iteration_variable(args(), 20), &F[3]);
}

TEST_F(StepShorteningTest, NoSearchInTheFirstPassOrOutsideEvents) {
  for (const int event : {1, 0}) {
    for (const int pass : {1, 2}) {
      if (event == 1 && pass == 2) continue;
      SCOPED_TRACE(testing::Message() << "event " << event << ", pass " << pass);
      SetUp();
      modelRuntime.event = event;
      LogCapture log;
      crossing(2, -3, 1);
      boolean_pass(pass);
      EXPECT_EQ(shorter_line(log), "");
      EXPECT_EQ(frictionSystem.oldValues[0], 4096.0);
    }
  }
  // A relation not evaluated before the pass has no difference to cross from.
  SetUp();
  LogCapture log;
  crossing(2, -3, 1, false);
  boolean_pass(2);
  EXPECT_EQ(shorter_line(log), "");
}

// The Booleans after a shortened step are those at the shortened step: the arm's torque passes
// its limit at 0.5 of the step, the pendulum's only at 0.9, beyond the shortened step 0.501.
TEST_F(FrictionBooleansTest, BooleansAreDecidedAgainAtTheShortenedStep) {
  modelRuntime.event = 1;
  set_pre_modes(ModeStuck, ModeStuck);
  w[fp::ArmTau0Max] = 1.0;
  w[fp::PendulumTau0Max] = 1.8;
  RelationHysteresis& rh = relation_hysteresis;
  // Before the pass both bearings held with sa 0.
  for (int k : {0, 8}) {
    rh.z[k] = -w[k == 0 ? fp::ArmTau0Max : fp::PendulumTau0Max];
    rh.evaluatedBefore[k] = 1;
  }
  for (int k : {4, 12}) {
    rh.z[k] = w[k == 4 ? fp::ArmTau0Max : fp::PendulumTau0Max];
    rh.evaluatedBefore[k] = 1;
  }
  for (int i = 0; i < FrictionIterationVariableCount; ++i) frictionSystem.oldValues[i] = 0.0;
  w[fp::ArmSa] = 2.0;
  w[fp::PendulumSa] = 2.0;
  w[fp::ArmLocked] = w[fp::PendulumLocked] = 1.0;

  EXPECT_EQ(boolean_pass(2), 1);
  EXPECT_EQ(w[fp::ArmSa], 2.0 * 0.501);
  EXPECT_EQ(w[fp::PendulumSa], 2.0 * 0.501);
  EXPECT_EQ(booleans(), (std::vector<double>{1, 0, 0, 0, 0, 1}));
}

}  // namespace
