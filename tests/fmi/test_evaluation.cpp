// The evaluation calls at the FMI boundary: initialisation and its event information, the
// demand-level cache, the refusals before initialisation, the completed-step rows and a whole
// calling sequence.
#include <cmath>
#include <functional>
#include <iomanip>

#include "fmi_fixture.h"

namespace {

using Evaluation = FmiTest;

fmiEventInfo prefilled_event_info() {
  fmiEventInfo info;
  info.iterationConverged = 7;
  info.stateValueReferencesChanged = 7;
  info.stateValuesChanged = 7;
  info.terminateSimulation = 7;
  info.upcomingTimeEvent = 7;
  info.nextEventTime = -5.0;
  return info;
}

TEST_F(Evaluation, InitializeFillsTheEventInformation) {
  create();
  fmiEventInfo info = prefilled_event_info();
  ASSERT_EQ(lib.Initialize(c(), fmiFalse, 1e-6, &info), fmiOK);
  EXPECT_EQ(info.iterationConverged, fmiTrue);
  EXPECT_EQ(info.stateValueReferencesChanged, fmiFalse);
  EXPECT_EQ(info.stateValuesChanged, fmiTrue);
  EXPECT_EQ(info.terminateSimulation, fmiFalse);
  EXPECT_EQ(info.upcomingTimeEvent, fmiFalse);  // the model has no time events
  EXPECT_EQ(info.nextEventTime, -5.0);          // left as the caller had it
  EXPECT_EQ(m().initialized, 1);
  EXPECT_EQ(m().computedLevel, 0);     // the first request after initialisation evaluates
  EXPECT_EQ(m().lastResultTime, 0.0);  // the first row at the start time
  EXPECT_TRUE(logged_messages().empty());

  // fmiEventUpdate fills the same fields but keeps stateValueReferencesChanged.
  info = prefilled_event_info();
  ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
  EXPECT_EQ(info.iterationConverged, fmiTrue);
  EXPECT_EQ(info.stateValueReferencesChanged, 7);
  EXPECT_EQ(info.stateValuesChanged, fmiTrue);
  EXPECT_EQ(info.terminateSimulation, fmiFalse);
  EXPECT_EQ(info.upcomingTimeEvent, fmiFalse);
  EXPECT_EQ(info.nextEventTime, -5.0);
}

TEST_F(Evaluation, ToleranceControlIsNotSupported) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(static_cast<int>(loggingOn));
    create(loggingOn);
    logged_messages().clear();
    EXPECT_EQ(initialize(fmiTrue), fmiWarning);
    EXPECT_EQ(m().initialized, 1);
    if (loggingOn) {
      ASSERT_EQ(logged_messages().size(), 1u);
      EXPECT_EQ(logged_messages()[0].status, fmiWarning);
      EXPECT_EQ(logged_messages()[0].text, "fmiInitialize: tolerance control not supported\n");
    } else {
      EXPECT_TRUE(logged_messages().empty());
    }
    instance.reset();
  }
}

TEST_F(Evaluation, EvaluationRequestsNeedAnInitializedInstance) {
  struct Case {
    const char* message;
    std::function<fmiStatus(const FmiLibrary&, fmiComponent)> call;
  };
  const Case cases[] = {
      {"fmiSetDerivatives: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         double d[4];
         return lib.GetDerivatives(c, d, 4);
       }},
      {"fmiGetEventIndicators: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         double z[32];
         return lib.GetEventIndicators(c, z, 32);
       }},
      {"fmiGetReal: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         const fmiValueReference vr = StateRef(0);
         double v;
         return lib.GetReal(c, &vr, 1, &v);
       }},
      {"fmiGetInteger: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         const fmiValueReference vr = StateRef(0);
         fmiInteger v;
         return lib.GetInteger(c, &vr, 1, &v);
       }},
      {"fmiGetBoolean: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         const fmiValueReference vr = StateRef(0);
         fmiBoolean v;
         return lib.GetBoolean(c, &vr, 1, &v);
       }},
      {"fmiGetEventUpdate: comp is not initialized\n",
       [](const FmiLibrary& lib, fmiComponent c) {
         fmiEventInfo info{};
         return lib.EventUpdate(c, fmiFalse, &info);
       }},
  };
  create();
  for (bool terminated : {false, true}) {
    if (terminated) {
      ASSERT_EQ(initialize(), fmiOK);
      ASSERT_EQ(lib.Terminate(c()), fmiOK);
    }
    for (const Case& k : cases) {
      SCOPED_TRACE(testing::Message() << k.message << (terminated ? " after terminate" : ""));
      logged_messages().clear();
      EXPECT_EQ(k.call(lib, c()), fmiError);
      ASSERT_EQ(logged_messages().size(), 1u);  // debug logging is off: fmiError passes
      EXPECT_EQ(logged_messages()[0].status, fmiError);
      EXPECT_EQ(logged_messages()[0].text, k.message);
    }
  }
}

TEST_F(Evaluation, SecondRequestAtTheSameLevelDoesNotEvaluate) {
  create_initialized();
  EXPECT_TRUE(derivatives_evaluate());
  EXPECT_EQ(m().computedLevel, 2);
  EXPECT_FALSE(derivatives_evaluate());
  // Indicators need level 4; afterwards both levels are served from the arrays.
  EXPECT_TRUE(indicators_evaluate());
  EXPECT_EQ(m().computedLevel, 4);
  EXPECT_FALSE(indicators_evaluate());
  EXPECT_FALSE(derivatives_evaluate());
}

TEST_F(Evaluation, EventUpdateEvaluatesWhateverTheCacheHolds) {
  create_initialized();
  fmiEventInfo info{};
  ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
  EXPECT_EQ(m().computedLevel, 5);
  // Above every request level: derivatives and indicators are answered from the arrays, but a
  // second event update at the same time and states runs the event iteration again.
  EXPECT_FALSE(derivatives_evaluate());
  EXPECT_FALSE(indicators_evaluate());
  EXPECT_TRUE(evaluates([&] { EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK); }));
  EXPECT_EQ(m().computedLevel, 5);
}

TEST_F(Evaluation, EverySetCallResetsTheCache) {
  const fmiValueReference noRefs[1] = {};
  const double x[4] = {0.0, 0.0, 0.5235987755983, 0.0};
  const std::vector<
      std::pair<const char*, std::function<fmiStatus(const FmiLibrary&, fmiComponent)>>>
      resets = {
          {"SetTime", [](const FmiLibrary& lib, fmiComponent c) { return lib.SetTime(c, 0.0); }},
          {"SetContinuousStates",
           [&](const FmiLibrary& lib, fmiComponent c) { return lib.SetContinuousStates(c, x, 4); }},
          {"SetReal without references",
           [&](const FmiLibrary& lib, fmiComponent c) {
             return lib.SetReal(c, noRefs, 0, nullptr);
           }},
          {"SetInteger without references",
           [&](const FmiLibrary& lib, fmiComponent c) {
             return lib.SetInteger(c, noRefs, 0, nullptr);
           }},
          {"SetBoolean without references",
           [&](const FmiLibrary& lib, fmiComponent c) {
             return lib.SetBoolean(c, noRefs, 0, nullptr);
           }},
          {"SetReal of a state",
           [&](const FmiLibrary& lib, fmiComponent c) {
             const fmiValueReference vr = StateRef(1);
             const double v = 0.0;
             return lib.SetReal(c, &vr, 1, &v);
           }},
      };
  create_initialized();
  for (const auto& [name, reset] : resets) {
    SCOPED_TRACE(name);
    indicators_evaluate();  // computedLevel 4 now
    ASSERT_FALSE(derivatives_evaluate());
    EXPECT_EQ(reset(lib, c()), fmiOK);
    EXPECT_EQ(m().computedLevel, 0);
    EXPECT_TRUE(derivatives_evaluate());
  }
  // fmiSetString stores nothing and keeps the cache.
  const fmiString s = "x";
  EXPECT_EQ(lib.SetString(c(), noRefs, 0, &s), fmiWarning);
  EXPECT_FALSE(derivatives_evaluate());
}

TEST_F(Evaluation, ValueRequestsEvaluateToTheHighestLevelOfTheirReferences) {
  create_initialized();
  double v[3] = {};
  // No references: nothing to evaluate.
  EXPECT_EQ(lib.GetReal(c(), nullptr, 0, v), fmiOK);
  EXPECT_EQ(m().computedLevel, 0);
  EXPECT_TRUE(derivatives_evaluate());

  // Level 3 above computedLevel 2: evaluated with demand 3.
  const fmiValueReference up[] = {WithLevel(StateRef(0), 1), WithLevel(AuxiliaryRef(0), 3),
                                  WithLevel(DerivativeRef(1), 2)};
  ASSERT_EQ(lib.GetReal(c(), up, 3, v), fmiOK);
  EXPECT_EQ(m().computedLevel, 3);
  EXPECT_EQ(v[2], m().derivatives[1]);

  // At or below computedLevel: answered from the arrays.
  m().derivatives[1] = Sentinel;
  ASSERT_EQ(lib.GetReal(c(), up, 3, v), fmiOK);
  EXPECT_EQ(v[2], Sentinel);
  const fmiValueReference lower = WithLevel(DerivativeRef(1), 2);
  ASSERT_EQ(lib.GetReal(c(), &lower, 1, v), fmiOK);
  EXPECT_EQ(v[0], Sentinel);
  EXPECT_EQ(m().computedLevel, 3);

  // A level above 4 is refused before anything is evaluated or delivered.
  for (uint32_t level : {5u, 7u, 15u}) {
    SCOPED_TRACE(level);
    logged_messages().clear();
    const fmiValueReference vr[] = {StateRef(0), WithLevel(StateRef(1), level)};
    double w[2] = {Sentinel, Sentinel};
    fmiInteger i[2] = {};
    fmiBoolean b[2] = {};
    EXPECT_EQ(lib.GetReal(c(), vr, 2, w), fmiError);
    EXPECT_EQ(lib.GetInteger(c(), vr, 2, i), fmiError);
    EXPECT_EQ(lib.GetBoolean(c(), vr, 2, b), fmiError);
    EXPECT_EQ(w[0], Sentinel);
    EXPECT_EQ(m().computedLevel, 3);
    ASSERT_EQ(logged_messages().size(), 3u);
    EXPECT_EQ(logged_messages()[0].text,
              "fmiGetReal: cannot get r#" + std::to_string(vr[1]) + "#\n");
    EXPECT_EQ(logged_messages()[1].text,
              "fmiGetInteger: cannot get i#" + std::to_string(vr[1]) + "#\n");
    EXPECT_EQ(logged_messages()[2].text,
              "fmiGetBoolean: cannot get b#" + std::to_string(vr[1]) + "#\n");
  }
}

TEST_F(Evaluation, DerivativesAfterInitializationFollowTheStates) {
  create_initialized();
  double d[4] = {};
  ASSERT_EQ(lib.GetDerivatives(c(), d, 4), fmiOK);
  // Angle derivatives are the angular velocities (0 at the start).
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[2], 0.0);
  for (double v : d) EXPECT_TRUE(std::isfinite(v));
  const double x[4] = {0.0, 0.0, 0.5235987755983, 2.0};
  ASSERT_EQ(lib.SetContinuousStates(c(), x, 4), fmiOK);
  ASSERT_EQ(lib.GetDerivatives(c(), d, 4), fmiOK);
  EXPECT_EQ(d[2], 2.0);
  EXPECT_EQ(d[0], 0.0);
}

TEST_F(Evaluation, CompletedStepRowsOnTheMillisecondGrid) {
  create();
  fmiBoolean callEventUpdate = 7;
  // No result file before initialisation: no row.
  ASSERT_EQ(lib.SetTime(c(), 0.001), fmiOK);
  EXPECT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
  EXPECT_EQ(callEventUpdate, fmiFalse);
  EXPECT_EQ(m().lastResultTime, 0.0);

  ASSERT_EQ(lib.SetTime(c(), 0.0), fmiOK);
  ASSERT_EQ(initialize(), fmiOK);
  EXPECT_EQ(m().lastResultTime, 0.0);
  struct Step {
    double t;
    double lastResultTime;  // afterwards
  };
  const Step steps[] = {
      {0.0, 0.0},                // not after the last row
      {0.0015, 0.0},             // off the grid
      {0.002, 0.002},            // a row
      {0.002, 0.002},            // not after the last row
      {0.00195, 0.002},          // off the grid
      {0.003 - 2e-7, 0.002},     // 2e-7 s below 3 ms: off the grid
      {0.003 - 5e-8, 0.003 - 5e-8},  // 5e-8 s below 3 ms: rounds to 3 ms, a row
      {0.0030002, 0.003 - 5e-8},     // 2e-7 s above 3 ms: off the grid
      {0.00300005, 0.00300005},      // within 1e-7 s of 3 ms, after the last row
      {0.0025, 0.00300005},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.t);
    ASSERT_EQ(lib.SetTime(c(), s.t), fmiOK);
    callEventUpdate = 7;
    EXPECT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
    EXPECT_EQ(callEventUpdate, fmiFalse);
    EXPECT_EQ(m().lastResultTime, s.lastResultTime);
  }
  // After fmiTerminate the file is closed: no row any more.
  ASSERT_EQ(lib.Terminate(c()), fmiOK);
  ASSERT_EQ(lib.SetTime(c(), 0.004), fmiOK);
  EXPECT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
  EXPECT_EQ(m().lastResultTime, 0.00300005);
}

// The grid's tolerance is exclusive: a time whose 1000·t lies exactly 1e-4 from a whole
// millisecond is off the grid, on either side of 0, and the double next to it toward the
// millisecond is on it. A grid time before the last row writes none.
TEST_F(Evaluation, CompletedStepGridEdgeAndTimesBeforeTheLastRow) {
  const double edge = std::nextafter(1e-7, 1.0);
  ASSERT_EQ(1000.0 * edge, 1e-4);
  ASSERT_LT(1000.0 * 1e-7, 1e-4);
  create();
  ASSERT_EQ(lib.SetTime(c(), -0.001), fmiOK);
  ASSERT_EQ(initialize(), fmiOK);
  ASSERT_EQ(m().lastResultTime, -0.001);
  struct Step {
    double t;
    double lastResultTime;  // afterwards
  };
  const Step steps[] = {
      {-edge, -0.001},  // exactly 1e-4 below 0 ms: off the grid
      {-1e-7, -1e-7},   // just inside: a row
      {edge, -1e-7},    // exactly 1e-4 above 0 ms: off the grid
      {1e-7, 1e-7},     // a row
      {0.0, 1e-7},      // on the grid, before the last row
      {-0.001, 1e-7},   // on the grid, well before the last row
      {0.001, 0.001},
  };
  fmiBoolean callEventUpdate = 7;
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << std::setprecision(17) << s.t);
    ASSERT_EQ(lib.SetTime(c(), s.t), fmiOK);
    EXPECT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
    EXPECT_EQ(m().lastResultTime, s.lastResultTime);
  }
}

TEST_F(Evaluation, WholeCallingSequence) {
  // A host's run: instantiate, set a parameter, initialise, integrate with explicit Euler
  // steps of 1 ms while watching the indicators, event updates when one changes sign,
  // terminate and free.
  create(fmiFalse);
  const fmiValueReference g = ParameterRef(0);
  const double gravity = 9.81;
  ASSERT_EQ(lib.SetReal(c(), &g, 1, &gravity), fmiOK);
  fmiEventInfo info{};
  ASSERT_EQ(lib.Initialize(c(), fmiFalse, 1e-6, &info), fmiOK);
  double x[4], dx[4], z[32], zPrev[32];
  ASSERT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
  ASSERT_EQ(lib.GetEventIndicators(c(), zPrev, 32), fmiOK);
  const double h = 0.001;
  int events = 0;
  for (int k = 1; k <= 200; ++k) {
    ASSERT_EQ(lib.GetDerivatives(c(), dx, 4), fmiOK) << k;
    for (int i = 0; i < 4; ++i) x[i] += h * dx[i];
    ASSERT_EQ(lib.SetTime(c(), k * h), fmiOK);
    ASSERT_EQ(lib.SetContinuousStates(c(), x, 4), fmiOK);
    ASSERT_EQ(lib.GetEventIndicators(c(), z, 32), fmiOK) << k;
    bool crossed = false;
    for (int i = 0; i < 32; ++i) crossed = crossed || ((z[i] > 0) != (zPrev[i] > 0));
    fmiBoolean callEventUpdate = fmiFalse;
    ASSERT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
    if (crossed || callEventUpdate) {
      ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK) << k;
      ASSERT_FALSE(info.terminateSimulation);
      ASSERT_EQ(lib.GetContinuousStates(c(), x, 4), fmiOK);
      ASSERT_EQ(lib.GetEventIndicators(c(), z, 32), fmiOK);
      ++events;
    }
    std::copy(z, z + 32, zPrev);
  }
  for (double v : x) EXPECT_TRUE(std::isfinite(v));
  EXPECT_EQ(m().lastResultTime, 0.2);
  EXPECT_EQ(lib.Terminate(c()), fmiOK);
  EXPECT_TRUE(logged_messages().empty()) << logged_messages()[0].text;
  RecordProperty("events", events);
}

}  // namespace
