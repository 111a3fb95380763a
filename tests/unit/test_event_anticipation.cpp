// Fixed-step event anticipation: the step measurement, the crossing and time-event estimates,
// the window of the two scaled steps, the reset, and its call from the model entry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "dsblock_fixture.h"
#include "runtime/builtins.h"
#include "runtime/event_anticipation.h"
#include "runtime/linsys.h"

namespace {

constexpr double NoEvent = 1e100;

class AnticipationTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all(); }
  void TearDown() override { reset_all(); }
  static void reset_all() {
    modelRuntime = ModelRuntimeState{};
    relation_hysteresis = RelationHysteresis{};
    eventAnticipation = EventAnticipationState{};
    crossingHistory = CrossingHistory{};
  }

  // One call with two relations (four indicators); returns the factor the derivatives got.
  double call(double t, std::vector<double> z, int initial = 0, int event = 0, int nder = 2) {
    z.resize(4, 1.0);
    double derivatives[3] = {1.0, -2.0, 5.0};
    anticipate_events(t, initial, event, z.data(), 2, derivatives, nder);
    EXPECT_EQ(derivatives[1], -2.0 * derivatives[0]);
    EXPECT_EQ(derivatives[2], 5.0);  // beyond nder
    return derivatives[0];
  }
  // Both indicators of relation 0 at z, relation 1 far from zero.
  static std::vector<double> pair(double z) { return {z, z, 1.0, 1.0}; }
  static void evaluated(bool r0, bool r1 = true) {
    relation_hysteresis.evaluatedBefore[0] = r0;
    relation_hysteresis.evaluatedBefore[1] = r1;
  }

  // The state after steps of h up to t - lastStep, the step before that prevRatio * h long,
  // with the history of relation 0's indicators (three, two and one step back); both
  // relations evaluated.
  static void steady_before(double t, double h, double h3, double h2, double h1,
                            double lastStep = 0.0, double prevRatio = 1.0) {
    if (lastStep == 0.0) lastStep = h;
    evaluated(true);
    eventAnticipation = EventAnticipationState{.step = h,
                                               .lastEventTime = 0.0,
                                               .lastCallTime = t - lastStep,
                                               .callTimeBefore = t - 2 * h,
                                               .stepStart = t - lastStep,
                                               .stepRatio = prevRatio,
                                               .prevStepRatio = 1.0,
                                               .factor1 = 1.0,
                                               .factor2 = 1.0,
                                               .windowStart = t - lastStep,
                                               .windowEnd = t - lastStep};
    // The call shifts these one step back.
    for (int i = 0; i < 2; ++i) {
      crossingHistory.H2[i] = h3;
      crossingHistory.H1[i] = h2;
      crossingHistory.H0[i] = h1;
    }
    for (int i = 2; i < 4; ++i) crossingHistory.H0[i] = crossingHistory.H1[i] = 1.0;
  }
};

TEST_F(AnticipationTest, ResetAtInitialisation) {
  eventAnticipation.step = 0.5;
  eventAnticipation.windowEnd = 7.0;
  for (double& v : crossingHistory.H2) v = 9.0;
  evaluated(true, false);
  EXPECT_EQ(call(0.5, {0.25, 0.75, 3.0, 4.0}, 1, 1), 1.0);
  const EventAnticipationState& s = eventAnticipation;
  EXPECT_EQ(s.step, 0.0);
  EXPECT_EQ(s.lastEventTime, 0.5);  // the initialisation is an event call
  EXPECT_EQ(s.lastCallTime, 0.5);
  EXPECT_EQ(s.callTimeBefore, -1e30);
  EXPECT_EQ(s.stepStart, 0.5);
  EXPECT_EQ(s.stepRatio, 1.0);
  EXPECT_EQ(s.prevStepRatio, 1.0);
  EXPECT_EQ(s.factor1, 1.0);
  EXPECT_EQ(s.factor2, 1.0);
  EXPECT_EQ(s.windowStart, -1e30);
  EXPECT_EQ(s.windowEnd, -1e30);
  // The latest crossings of evaluated relations only; no older history survives.
  EXPECT_EQ(std::vector<double>(crossingHistory.H0, crossingHistory.H0 + 5),
            (std::vector<double>{0.25, 0.75, 0.0, 0.0, 0.0}));
  for (int i = 0; i < CrossingHistoryLength; ++i) {
    EXPECT_EQ(crossingHistory.H1[i], 0.0);
    EXPECT_EQ(crossingHistory.H2[i], 0.0);
    EXPECT_EQ(crossingHistory.H3[i], 0.0);
  }
}

// The worked example: h = 0.01, an indicator pair at 1.0 and then 0.3.
TEST_F(AnticipationTest, CrossingEstimateScalesTwoStepsAndBringsTheStatesBackOnTheGrid) {
  evaluated(true);
  const double f = 0.6285714285714286;  // 0.3 / 0.7 + 0.2
  EXPECT_EQ(call(0.0, pair(1.0), 1, 1), 1.0);
  EXPECT_EQ(call(0.0, pair(1.0)), 1.0);  // h is not known before time moves on
  EXPECT_EQ(eventAnticipation.step, 0.0);

  EXPECT_EQ(call(0.01, pair(0.3)), f);
  EXPECT_EQ(eventAnticipation.step, 0.01);
  EXPECT_EQ(eventAnticipation.factor1, f);
  EXPECT_EQ(eventAnticipation.factor2, 1.3714285714285714);
  EXPECT_EQ(eventAnticipation.windowStart, 0.019999999998999998);  // t + 0.9999999999 h
  EXPECT_EQ(eventAnticipation.windowEnd, 0.029999999999);          // t + 1.9999999999 h
  // A repeated call at the same time is scaled again and does not shift the history.
  EXPECT_EQ(call(0.01, pair(0.3)), f);
  EXPECT_EQ(crossingHistory.H1[0], 1.0);

  // The next grid point lies in the window: 2 - f, no new prediction though the indicator
  // is about to cross.
  EXPECT_EQ(call(0.02, pair(0.01)), 1.3714285714285714);
  EXPECT_EQ(eventAnticipation.stepStart, 0.019999999998999998);
  EXPECT_EQ(eventAnticipation.factor1, f);

  // Past the window the steps are measured from the window's start and predictions resume.
  EXPECT_EQ(call(0.03, pair(-0.3)), 1.0);
  EXPECT_EQ(eventAnticipation.stepRatio, (0.03 - 0.019999999998999998) / 0.01);
  EXPECT_EQ(eventAnticipation.prevStepRatio, (0.019999999998999998 - 0.01) / 0.01);
  EXPECT_EQ(eventAnticipation.factor1, 0.0);
  EXPECT_EQ(eventAnticipation.windowEnd, 0.03);
  EXPECT_EQ(eventAnticipation.step, 0.01);  // measured once
}

TEST_F(AnticipationTest, StepIsMeasuredFromTheEventAfterTheReset) {
  evaluated(true);
  call(0.0, pair(1.0), 1, 0);  // an initialisation that is no event call
  call(0.25, pair(1.0));
  EXPECT_EQ(eventAnticipation.step, 0.0);
  call(0.25, pair(1.0), 0, 1);
  EXPECT_EQ(eventAnticipation.step, 0.0);
  call(0.75, pair(1.0));
  EXPECT_EQ(eventAnticipation.step, 0.5);
  call(1.0, pair(1.0), 0, 1);
  call(1.5, pair(1.0));
  EXPECT_EQ(eventAnticipation.step, 0.5);

  // An event call is measured against the event before it.
  call(0.0, pair(1.0), 1, 1);
  call(0.125, pair(1.0), 0, 1);
  EXPECT_EQ(eventAnticipation.step, 0.125);
}

// One prediction at t = 1 after steps of h = 0.25 (the last one lastStep long, the one
// before it prevRatio * h).
struct PredictionCase {
  const char* what;
  double h3, h2, h1;
  std::vector<double> z;
  double nextTimeEvent;
  double factor1;
  double scaled;  // the factor of this call's derivatives
  double lastStep = 0.25;
  double prevRatio = 1.0;
};

TEST_F(AnticipationTest, PredictionTakesTheLargestEstimateInTwoSteps) {
  const double linear = 0.6285714285714286;
  const std::vector<PredictionCase> cases = {
      {"linear only: the history is not closer to zero", 0.0, 0.0, 1.0, pair(0.3), NoEvent,
       linear, linear},
      {"the linear margin is 1.2 - 1 in doubles", 0.0, 0.0, 1.0, pair(0.1), NoEvent,
       0.31111111111111106, 0.31111111111111106},
      {"from below zero", 0.0, 0.0, -1.0, pair(-0.3), NoEvent, linear, linear},
      {"quadratic, history moving in", 10.0, 8.0, 6.0, pair(3.0), NoEvent, 0.8420097457981277,
       0.8420097457981277},
      {"quadratic from below zero", -10.0, -8.0, -6.0, pair(-3.0), NoEvent, 0.8420097457981277,
       0.8420097457981277},
      {"quadratic, older history moving out", 7.0, 8.0, 6.0, pair(3.0), NoEvent,
       0.8677765426608748, 0.8677765426608748},
      {"quadratic with positive curvature term", 10.0, 6.0, 3.0, pair(0.5), NoEvent,
       0.2704859179706539, 0.2704859179706539},
      {"no real root: linear", 10.0, 8.0, 3.0, pair(1.0), NoEvent, 0.7, 0.7},
      {"quadratic after uneven steps", 9.0, 7.0, 4.0, pair(1.5), NoEvent, 0.4655530286170684,
       0.4655530286170684, 0.1875, 0.9999999999},
      {"quadratic after uneven steps, the older one longer", 10.0, 6.0, 3.0, pair(0.5), NoEvent,
       0.183161798334125, 0.183161798334125, 0.1875, 1.0000000001},
      {"a linear crossing 2.33 steps ahead is a candidate", 3.75, 2.75, 2.5, pair(1.75), NoEvent,
       1.4792736877587844, 1.0},
      {"linear beyond one step: no scaling", 0.0, 0.0, 6.0, pair(3.0), NoEvent, 1.2, 1.0},
      {"the pair disagrees in sign", 0.0, 0.0, 1.0, {0.3, -0.3, 1.0, 1.0}, NoEvent, 0.0, 1.0},
      {"moving away from zero", 0.0, 0.0, 0.3, pair(1.0), NoEvent, 0.0, 1.0},
      {"on zero", 0.0, 0.0, 1.0, pair(0.0), NoEvent, 0.0, 1.0},
      {"no slope", 0.0, 0.0, 0.3, pair(0.3), NoEvent, 0.0, 1.0},
      {"the larger of crossing and time event", 0.0, 0.0, 1.0, pair(0.3), 1.1875, 0.75, 0.75},
      {"a late crossing beats an early time event", 0.0, 0.0, 6.0, pair(3.0), 1.125, 1.2, 1.0},
  };
  for (const PredictionCase& c : cases) {
    SCOPED_TRACE(c.what);
    steady_before(1.0, 0.25, c.h3, c.h2, c.h1, c.lastStep, c.prevRatio);
    modelRuntime.nextTimeEvent = c.nextTimeEvent;
    EXPECT_EQ(call(1.0, c.z), c.scaled);
    EXPECT_EQ(eventAnticipation.stepRatio, c.lastStep / 0.25);
    EXPECT_EQ(eventAnticipation.prevStepRatio, c.prevRatio);
    EXPECT_EQ(eventAnticipation.factor1, c.factor1);
    const bool window = c.factor1 != 0.0 && c.factor1 < 1.0;
    EXPECT_EQ(eventAnticipation.factor2, window ? 2.0 - c.factor1 : 1.0);
    EXPECT_EQ(eventAnticipation.windowStart, window ? 1.249999999975 : 1.0);
    EXPECT_EQ(eventAnticipation.windowEnd, window ? 1.499999999975 : 1.0);
  }
}

TEST_F(AnticipationTest, UnevaluatedRelationsAreNoCandidatesAndLeaveNoHistory) {
  steady_before(1.0, 0.25, 0.0, 0.0, 1.0);
  evaluated(false, true);
  EXPECT_EQ(call(1.0, {0.3, 0.3, 1.5, 1.5}), 1.0);
  EXPECT_EQ(eventAnticipation.factor1, 0.0);
  EXPECT_EQ(std::vector<double>(crossingHistory.H0, crossingHistory.H0 + 4),
            (std::vector<double>{0.0, 0.0, 1.5, 1.5}));
}

TEST_F(AnticipationTest, TimeEventWithinTheNextStep) {
  struct Case {
    double nextTimeEvent;  // t = 1, h = 0.25
    double factor1;
    double scaled;
  };
  const Case cases[] = {
      {1.125, 0.5, 0.5},  // half a step ahead: 0.5, then 1.5
      {std::nextafter(1.25, 0.0), 0.9999999999999991, 0.9999999999999991},
      {1.25, 1.0, 1.0},   // one step ahead: no scaling
      {1.375, 1.5, 1.0},  // 1.5 steps ahead
      {1.5, 0.0, 1.0},    // two steps ahead is too far
      {1.0, 0.0, 1.0},    // now
      {0.875, 0.0, 1.0},  // passed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nextTimeEvent);
    steady_before(1.0, 0.25, 1.0, 1.0, 1.0);
    modelRuntime.nextTimeEvent = c.nextTimeEvent;
    EXPECT_EQ(call(1.0, pair(1.0)), c.scaled);
    EXPECT_EQ(eventAnticipation.factor1, c.factor1);
  }
  // Without a window a repeated call at the same time predicts again (an event update
  // requested the time event); the next grid point gets 2 - f.
  steady_before(1.0, 0.25, 1.0, 1.0, 1.0);
  modelRuntime.nextTimeEvent = NoEvent;
  EXPECT_EQ(call(1.0, pair(1.0)), 1.0);
  modelRuntime.nextTimeEvent = 1.125;
  EXPECT_EQ(call(1.0, pair(1.0)), 0.5);
  EXPECT_EQ(call(1.25, pair(1.0)), 1.5);
}

TEST_F(AnticipationTest, ASecondRunDoesNotExtrapolateFromTheFirst) {
  evaluated(true);
  const auto run = [this] {
    call(0.0, pair(1.0), 1, 1);
    return call(0.01, pair(0.3));
  };
  const double first = run();
  // The first run goes on, its indicators moving away.
  call(0.02, pair(2.0));
  call(0.03, pair(4.0));
  EXPECT_EQ(run(), first);
  EXPECT_EQ(first, 0.6285714285714286);
}

// ---------------------------------------------------------------------------------------------
// The call from the model entry
// ---------------------------------------------------------------------------------------------

class AnticipationEntryTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    eventAnticipation = EventAnticipationState{};
    crossingHistory = CrossingHistory{};
  }
  // The derivatives of an initialisation at 0 whose passes request a time event at 0.375,
  // then of a derivative call at 0.25 (h = 0.25: the event lies half a step ahead).
  std::vector<double> derivatives_with(int32_t mode) {
    reset_process_state();
    modelRuntime.fixedStepMode = mode;
    tavelo_test_pass_hook = [](const ModelEntryArguments&) {
      if (modelRuntime.event) register_time_event(0.375);
    };
    EXPECT_EQ(call(DemandInitialize, 0.0), 0);
    tavelo_test_pass_hook = nullptr;
    EXPECT_EQ(call(DemandDerivatives, 0.25), 0);
    return F;
  }
};

TEST_F(AnticipationEntryTest, FixedStepModeOneScalesOtherModesOnlyKeepTheBooks) {
  const std::vector<double> plain = derivatives_with(0);
  EXPECT_EQ(eventAnticipation.step, 0.0);  // not called
  ASSERT_NE(plain[0], 0.0);

  const std::vector<double> scaled = derivatives_with(1);
  EXPECT_EQ(eventAnticipation.step, 0.25);
  EXPECT_EQ(eventAnticipation.factor1, 0.5);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(scaled[k], 0.5 * plain[k]) << k;
  EXPECT_EQ(scaled[4], plain[4]);  // the spare element

  const std::vector<double> books = derivatives_with(2);
  EXPECT_EQ(eventAnticipation.step, 0.25);
  EXPECT_EQ(eventAnticipation.factor1, 0.5);
  EXPECT_EQ(books, plain);
}

TEST_F(AnticipationEntryTest, EveryInitialisationStartsTheBooksAfresh) {
  modelRuntime.fixedStepMode = 2;
  EXPECT_EQ(call(DemandInitialize, 0.0), 0);
  EXPECT_EQ(call(DemandDerivatives, 0.25), 0);
  EXPECT_EQ(eventAnticipation.step, 0.25);
  // A second run with a longer step measures it anew.
  EXPECT_EQ(call(DemandInitialize, 10.0), 0);
  EXPECT_EQ(eventAnticipation.step, 0.0);
  EXPECT_EQ(eventAnticipation.lastEventTime, 10.0);
  EXPECT_EQ(call(DemandDerivatives, 10.5), 0);
  EXPECT_EQ(eventAnticipation.step, 0.5);
}

TEST_F(AnticipationEntryTest, NotCalledWhenTheIterationFails) {
  modelRuntime.fixedStepMode = 1;
  tavelo_test_fault = TestFaultKeepChanging;
  EXPECT_EQ(call(DemandInitialize, 0.5), 1);
  EXPECT_EQ(eventAnticipation.lastCallTime, 0.0);  // never reset
}

}  // namespace
