// Failures of the model reaching the FMI boundary, through the test build of the library
// whose model body can be made to fail: a model error, an event iteration that never
// settles, and terminate(); and time events that the body requests.
#include <functional>

#include "fmi_fixture.h"

namespace {

constexpr int FaultNone = 0;
constexpr int FaultModelError = 1;
constexpr int FaultKeepChanging = 2;
constexpr int FaultTerminate = 3;
constexpr int FaultTimeEvents = 4;     // requests 0.75, 0.5 and 2 s ahead at every event pass
constexpr int FaultTerminateCall = 5;  // terminate("Test fault: terminate") in every pass

class Faults : public FmiTest {
 protected:
  Faults() : FmiTest(tavelo_faults()) {}
  void SetUp() override {
    FmiTest::SetUp();
    ASSERT_NE(lib.testSetFault, nullptr);
  }
  void TearDown() override {
    if (lib.testSetFault) lib.testSetFault(FaultNone);
    FmiTest::TearDown();
  }
  void fault(int which) { lib.testSetFault(which); }

  std::vector<std::string> texts_with(fmiStatus status) const {
    std::vector<std::string> out;
    for (const auto& m : logged_messages())
      if (m.status == status) out.push_back(m.text);
    return out;
  }
  bool logged(const std::string& text) const {
    for (const auto& m : logged_messages())
      if (m.text == text) return true;
    return false;
  }
};

TEST_F(Faults, ModelErrorDuringInitialization) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(loggingOn ? "logging on" : "logging off");
    create(loggingOn);
    fault(FaultModelError);
    logged_messages().clear();
    fmiEventInfo info{};
    info.iterationConverged = 7;
    EXPECT_EQ(lib.Initialize(c(), fmiFalse, 0.0, &info), fmiError);
    EXPECT_EQ(info.iterationConverged, 7);  // not written
    EXPECT_EQ(m().initialized, 0);
    EXPECT_EQ(texts_with(fmiError),
              std::vector<std::string>{"fmiInitialize: dsblock_ failed, QiErr = 1\n"});
    // The model's report is runtime text (fmiOK): it needs debug logging.
    const std::vector<std::string> report = texts_with(fmiOK);
    if (loggingOn) {
      ASSERT_GE(report.size(), 2u);
      EXPECT_EQ(report[0], "The following error was detected at time: 0\n");
      EXPECT_EQ(report[1], "Test fault: model error\n");
      EXPECT_EQ(logged_messages().back().text, "fmiInitialize: dsblock_ failed, QiErr = 1\n");
    } else {
      EXPECT_TRUE(report.empty());
      EXPECT_EQ(logged_messages().size(), 1u);
    }
    // Still not initialised; once the fault is gone the instance initialises.
    double d[4];
    EXPECT_EQ(lib.GetDerivatives(c(), d, 4), fmiError);
    fault(FaultNone);
    EXPECT_EQ(initialize(), fmiOK);
    instance.reset();
  }
}

TEST_F(Faults, ModelErrorAfterInitializationStatusesAndNoStaleCache) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(loggingOn ? "logging on" : "logging off");
    create_initialized(loggingOn);
    ASSERT_TRUE(derivatives_evaluate());
    ASSERT_EQ(lib.SetTime(c(), 0.001), fmiOK);
    fault(FaultModelError);

    struct Case {
      fmiStatus expected;
      std::string message;
      std::function<fmiStatus()> call;
    };
    double d[4], z[32], r;
    fmiInteger i;
    fmiBoolean b;
    fmiEventInfo info{};
    const fmiValueReference vr = WithLevel(DerivativeRef(1), 2);
    const std::vector<Case> cases = {
        {fmiDiscard, "fmiGetDerivatives: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetDerivatives(c(), d, 4); }},
        {fmiDiscard, "fmiGetEventIndicators: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetEventIndicators(c(), z, 32); }},
        {fmiDiscard, "fmiGetReal: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetReal(c(), &vr, 1, &r); }},
        {fmiError, "fmiGetInteger: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetInteger(c(), &vr, 1, &i); }},
        {fmiError, "fmiGetBoolean: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.GetBoolean(c(), &vr, 1, &b); }},
        {fmiError, "fmiEventUpdate: dsblock_ failed, QiErr = 1\n",
         [&] { return lib.EventUpdate(c(), fmiFalse, &info); }},
    };
    for (const Case& k : cases) {
      SCOPED_TRACE(k.message);
      // Twice: a failed evaluation leaves nothing to answer from, so the repeat evaluates again.
      for (int repeat = 0; repeat < 2; ++repeat) {
        logged_messages().clear();
        EXPECT_EQ(k.call(), k.expected);
        EXPECT_EQ(m().computedLevel, 0);
        const bool reaches = loggingOn || k.expected == fmiError;
        EXPECT_EQ(logged(k.message), reaches);
        if (reaches) {
          EXPECT_EQ(logged_messages().back().status, k.expected);
        }
      }
    }
    // The entry is usable again at once.
    fault(FaultNone);
    EXPECT_TRUE(derivatives_evaluate());
    EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
    instance.reset();
  }
}

TEST_F(Faults, EventIterationThatNeverSettles) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(loggingOn ? "logging on" : "logging off");
    create(loggingOn);
    fault(FaultKeepChanging);
    logged_messages().clear();
    EXPECT_EQ(initialize(), fmiError);
    EXPECT_EQ(m().initialized, 0);
    EXPECT_EQ(logged_messages().back().text, "fmiInitialize: dsblock_ failed, QiErr = 1\n");
    EXPECT_EQ(logged("ERROR: Finding consistent restart conditions failed at time:  0\n"),
              static_cast<bool>(loggingOn));
    EXPECT_EQ(logged("On the final iteration for restart conditions we get:\n"),
              static_cast<bool>(loggingOn));

    // At an event after a good initialisation: fmiError, and the next request evaluates.
    fault(FaultNone);
    ASSERT_EQ(initialize(), fmiOK);
    ASSERT_TRUE(derivatives_evaluate());
    fault(FaultKeepChanging);
    logged_messages().clear();
    fmiEventInfo info{};
    EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiError);
    EXPECT_EQ(logged_messages().back().text, "fmiEventUpdate: dsblock_ failed, QiErr = 1\n");
    EXPECT_EQ(m().computedLevel, 0);
    EXPECT_TRUE(derivatives_evaluate());  // no event call: the test relation is left alone
    instance.reset();
    fault(FaultNone);
  }
}

TEST_F(Faults, TerminateReachesTheHostThroughEventUpdate) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(loggingOn ? "logging on" : "logging off");
    create_initialized(loggingOn);
    fault(FaultTerminate);
    fmiEventInfo info;
    info.iterationConverged = 7;
    info.stateValueReferencesChanged = 7;
    info.stateValuesChanged = 7;
    info.terminateSimulation = 7;
    info.upcomingTimeEvent = 7;
    info.nextEventTime = -5.0;
    logged_messages().clear();
    EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
    EXPECT_EQ(info.terminateSimulation, fmiTrue);
    EXPECT_EQ(info.iterationConverged, 7);  // the other fields as the caller set them
    EXPECT_EQ(info.stateValueReferencesChanged, 7);
    EXPECT_EQ(info.stateValuesChanged, 7);
    EXPECT_EQ(info.upcomingTimeEvent, 7);
    EXPECT_EQ(info.nextEventTime, -5.0);
    if (loggingOn) {
      ASSERT_EQ(logged_messages().size(), 1u);
      EXPECT_EQ(logged_messages()[0].status, fmiOK);
      EXPECT_EQ(logged_messages()[0].text, "fmiEventUpdate: simulation terminated by comp\n");
    } else {
      EXPECT_TRUE(logged_messages().empty());
    }
    // Everywhere else terminate() is a failure like any other QiErr.
    logged_messages().clear();
    double d[4];
    EXPECT_EQ(lib.GetDerivatives(c(), d, 4), fmiError);
    ASSERT_FALSE(logged_messages().empty());
    EXPECT_EQ(logged_messages().back().text, "fmiGetDerivatives: dsblock_ failed, QiErr = -999\n");
    fault(FaultNone);
    instance.reset();
  }
}

TEST_F(Faults, TerminateCalledInTheBodyReportsAndEndsTheSimulation) {
  for (const fmiBoolean loggingOn : {fmiFalse, fmiTrue}) {
    SCOPED_TRACE(loggingOn ? "logging on" : "logging off");
    create_initialized(loggingOn);
    fault(FaultTerminateCall);
    for (int call = 0; call < 2; ++call) {  // every event update terminates anew
      fmiEventInfo info{};
      info.terminateSimulation = 7;
      info.nextEventTime = -5.0;
      logged_messages().clear();
      EXPECT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
      EXPECT_EQ(info.terminateSimulation, fmiTrue);
      EXPECT_EQ(info.nextEventTime, -5.0);
      const std::vector<std::string> expected =
          loggingOn ? std::vector<std::string>{"Simulation successfully terminated\n",
                                               "Test fault: terminate\n",
                                               "fmiEventUpdate: simulation terminated by comp\n"}
                    : std::vector<std::string>{};
      EXPECT_EQ(texts_with(fmiOK), expected);
      EXPECT_EQ(logged_messages().size(), expected.size());
    }
    fault(FaultNone);
    instance.reset();
  }
}

TEST_F(Faults, TimeEventsRequestedInTheBodyReachTheHost) {
  create();
  fault(FaultTimeEvents);
  fmiEventInfo info{};
  info.nextEventTime = -5.0;
  ASSERT_EQ(lib.Initialize(c(), fmiFalse, 0.0, &info), fmiOK);
  EXPECT_EQ(info.upcomingTimeEvent, fmiTrue);
  EXPECT_EQ(info.nextEventTime, 0.5);  // 0.75 replaced by 0.5; 2.0 lies after it

  ASSERT_EQ(lib.SetTime(c(), 0.5), fmiOK);
  ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
  EXPECT_EQ(info.upcomingTimeEvent, fmiTrue);
  EXPECT_EQ(info.nextEventTime, 1.0);

  // The next event update without requests drops it and leaves the caller's time as it was.
  ASSERT_EQ(lib.SetTime(c(), 0.625), fmiOK);
  EXPECT_TRUE(derivatives_evaluate());
  fault(FaultNone);
  info.nextEventTime = -5.0;
  ASSERT_EQ(lib.EventUpdate(c(), fmiFalse, &info), fmiOK);
  EXPECT_EQ(info.upcomingTimeEvent, fmiFalse);
  EXPECT_EQ(info.nextEventTime, -5.0);
}

}  // namespace
