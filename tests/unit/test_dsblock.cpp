// The model entry and its event iteration: passes, the iteration limit and its messages,
// newInit, relation bookkeeping, computedLevel and the statuses handed back in QiErr.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "dsblock_fixture.h"
#include "source/matrixop.h"

namespace {

using Lines = std::vector<std::string>;

// What the body saw at the start of each pass, and what the test makes it do.
struct PassRecord {
  int32_t initial;
  int32_t event;
  int32_t newInit;
  int32_t computedLevel;
  int32_t evaluatedBefore0;
};

std::vector<PassRecord> passes;
std::function<void(const ModelEntryArguments&)> passAction;

void recording_hook(const ModelEntryArguments& a) {
  passes.push_back({modelRuntime.initial, modelRuntime.event, modelRuntime.newInit,
                    *a.computedLevel, relation_hysteresis.evaluatedBefore[0]});
  if (passAction) passAction(a);
}

// The entry's own behaviour, with a body whose passes change only what the test makes change.
class EventIterationTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    tavelo_test_bare_body = 1;
    passes.clear();
    passAction = nullptr;
    tavelo_test_pass_hook = &recording_hook;
  }
  void TearDown() override {
    passAction = nullptr;
    ModelEntryTest::TearDown();
  }
  // The body reports a change in each of its first n passes of every call.
  static void change_in_first_passes(int n) {
    passAction = [n](const ModelEntryArguments&) {
      if (modelRuntime.eventIteration <= n) modelRuntime.changed = 1;
    };
  }
  void initialise() {
    ASSERT_EQ(call(DemandInitialize), 0);
    passes.clear();
  }
};

TEST_F(EventIterationTest, InitialisationMakesTwoPassesAndSetsUpTheRun) {
  LogCapture log;
  computedLevel = 3;
  modelRuntime.printFlags = PrintFlagEvents;
  modelRuntime.EventEpsilon = 0.5;
  modelRuntime.maxEventIterations = 3;
  saTime = 7.0;
  preValues[0] = 3.0;
  preValueFlags[5] = 1;

  EXPECT_EQ(call(DemandInitialize, 0.75), 0);

  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].initial, 1);
  EXPECT_EQ(passes[0].event, 1);
  EXPECT_EQ(passes[0].newInit, 1);
  EXPECT_EQ(passes[0].computedLevel, 0);  // a new initialisation starts from level 0
  EXPECT_EQ(passes[1].initial, 0);
  EXPECT_EQ(passes[1].event, 1);
  EXPECT_EQ(passes[1].newInit, 0);
  EXPECT_EQ(computedLevel, 0);
  EXPECT_EQ(modelRuntime.initial, 1);  // stays set until the next call
  EXPECT_EQ(modelRuntime.startTime, 0.75);
  EXPECT_EQ(modelRuntime.printFlags, 0);
  EXPECT_EQ(modelRuntime.EventEpsilon, 1e-10);
  EXPECT_EQ(modelRuntime.maxEventIterations, 25);
  EXPECT_EQ(modelRuntime.sizes.nrel, 16);
  EXPECT_EQ(modelRuntime.initCounter, 1);
  EXPECT_EQ(saTime, -1e33);
  EXPECT_EQ(saPrevTime, -1e33);
  EXPECT_EQ(preValues[0], 0.0);
  EXPECT_EQ(preValueFlags[5], 0);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(ei[i], 1.0) << i;
  EXPECT_EQ(ei[32], 0.0);  // the spare element is not touched
  EXPECT_TRUE(log.texts().empty());
}

TEST_F(EventIterationTest, OrdinaryCallsMakeOnePassAndServeTheirDemand) {
  initialise();
  for (int32_t demand : {1, 2, 3, 4}) {
    SCOPED_TRACE(demand);
    passes.clear();
    computedLevel = 0;
    EXPECT_EQ(call(demand), 0);
    EXPECT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].initial, 0);
    EXPECT_EQ(passes[0].event, 0);
    EXPECT_EQ(computedLevel, demand);
    EXPECT_EQ(modelRuntime.initial, 0);
  }
}

TEST_F(EventIterationTest, PassCountFollowsTheChanges) {
  initialise();
  struct Case {
    int32_t demand;
    int changingPasses;
    size_t passes;
    int32_t QiErr;
  };
  const Case cases[] = {
      {DemandEventUpdate, 0, 1, 0},   {DemandEventUpdate, 1, 2, 0},
      {DemandEventUpdate, 3, 4, 0},   {DemandEventUpdateAlt, 3, 4, 0},
      {DemandEventUpdate, 24, 25, 0}, {DemandEventUpdate, 25, 26, 1},
      {DemandInitialize, 0, 2, 0},    {DemandInitialize, 5, 6, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "demand " << c.demand << ", changing " << c.changingPasses);
    passes.clear();
    change_in_first_passes(c.changingPasses);
    EXPECT_EQ(call(c.demand), c.QiErr);
    EXPECT_EQ(passes.size(), c.passes);
    EXPECT_EQ(modelRuntime.eventIteration, static_cast<int32_t>(c.passes));
    if (c.QiErr == 0 && c.demand != DemandInitialize) {
      EXPECT_EQ(computedLevel, c.demand);
    }
  }
}

TEST_F(EventIterationTest, RepeatedPassesStartFromLevelZero) {
  initialise();
  computedLevel = 2;
  change_in_first_passes(2);
  EXPECT_EQ(call(DemandEventUpdate), 0);
  ASSERT_EQ(passes.size(), 3u);
  EXPECT_EQ(passes[0].computedLevel, 2);  // an event call keeps the caller's level at first
  EXPECT_EQ(passes[1].computedLevel, 0);
  EXPECT_EQ(passes[2].computedLevel, 0);
  EXPECT_EQ(computedLevel, DemandEventUpdate);
}

TEST_F(EventIterationTest, NewInitOnlyInFirstInitialisationPassOrAfterARetryRequest) {
  passAction = [](const ModelEntryArguments&) {
    if (modelRuntime.eventIteration == 1)
      modelRuntime.retryPassRequested = 1;  // a rejected friction solve at the event
    if (modelRuntime.eventIteration <= 2) modelRuntime.changed = 1;
  };
  EXPECT_EQ(call(DemandInitialize), 0);
  ASSERT_EQ(passes.size(), 3u);
  EXPECT_EQ(passes[0].newInit, 1);
  EXPECT_EQ(passes[1].newInit, 1);
  EXPECT_EQ(passes[2].newInit, 0);

  // A retry request in an event call does not make a new initialisation.
  passes.clear();
  EXPECT_EQ(call(DemandEventUpdate), 0);
  ASSERT_EQ(passes.size(), 3u);
  for (const PassRecord& p : passes) EXPECT_EQ(p.newInit, 0);

  // Every initialisation call is a new one.
  passes.clear();
  passAction = nullptr;
  EXPECT_EQ(call(DemandInitialize), 0);
  EXPECT_EQ(passes[0].newInit, 1);
  EXPECT_EQ(modelRuntime.initCounter, 2);
}

TEST_F(EventIterationTest, EvaluatedFlagsAreClearedPerCallAndBeforePasses11And22) {
  initialise();
  passAction = [](const ModelEntryArguments&) {
    for (int k = 0; k < RelationCount; ++k) relation_hysteresis.evaluatedBefore[k] = 1;
    if (modelRuntime.eventIteration <= 22) modelRuntime.changed = 1;
  };
  relation_hysteresis.evaluatedBefore[0] = 1;
  EXPECT_EQ(call(DemandEventUpdate), 0);
  ASSERT_EQ(passes.size(), 23u);
  for (size_t i = 0; i < passes.size(); ++i) {
    const int pass = static_cast<int>(i) + 1;
    EXPECT_EQ(passes[i].evaluatedBefore0, (pass == 1 || pass == 11 || pass == 22) ? 0 : 1)
        << "pass " << pass;
  }

  passAction = nullptr;
  struct Case {
    int32_t demand;
    int32_t seen;
  };
  for (const Case c : {Case{DemandCrossingFunctions, 0}, Case{DemandDerivatives, 1},
                       Case{DemandOutputs, 1}}) {
    SCOPED_TRACE(c.demand);
    passes.clear();
    relation_hysteresis.evaluatedBefore[0] = 1;
    call(c.demand);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].evaluatedBefore0, c.seen);
  }
}

TEST_F(EventIterationTest, UnevaluatedRelationsWithZeroCrossingValueReportPointOne) {
  initialise();
  passAction = [](const ModelEntryArguments& a) {
    // Relation 0 is evaluated and crosses exactly at zero; the others are not evaluated.
    relation_hysteresis.evaluatedBefore[0] = 1;
    a.eventIndicators[0] = 0.0;
    a.eventIndicators[1] = 0.0;
  };
  auto preset = [this] {
    for (double& v : ei) v = 0.3;
    ei[2] = 0.7;  // relation 1: second value 0 -> both 0.1
    ei[3] = 0.0;
    ei[5] = 0.0;  // relation 2: first value 0.3, second 0 -> both 0.1
    ei[6] = 0.0;  // relation 3: only the first value 0 -> kept
  };
  preset();
  EXPECT_EQ(call(DemandEventUpdate), 0);
  EXPECT_EQ(ei[0], 0.0);
  EXPECT_EQ(ei[1], 0.0);
  EXPECT_EQ(ei[2], 0.1);
  EXPECT_EQ(ei[3], 0.1);
  EXPECT_EQ(ei[4], 0.1);
  EXPECT_EQ(ei[5], 0.1);
  EXPECT_EQ(ei[6], 0.0);
  EXPECT_EQ(ei[7], 0.3);
  EXPECT_EQ(ei[31], 0.3);
  EXPECT_EQ(ei[32], 0.3);  // the spare element is not touched

  // Outside events the crossing values stay as the body left them.
  preset();
  EXPECT_EQ(call(DemandCrossingFunctions), 0);
  EXPECT_EQ(ei[2], 0.7);
  EXPECT_EQ(ei[3], 0.0);
}

TEST_F(EventIterationTest, EventCallsResetTimeEventAndEventUpdateRequest) {
  initialise();
  modelRuntime.nextTimeEvent = 3.0;
  modelRuntime.callEventUpdate = 1;
  EXPECT_EQ(call(DemandDerivatives), 0);
  EXPECT_EQ(modelRuntime.nextTimeEvent, 3.0);
  EXPECT_EQ(modelRuntime.callEventUpdate, 1);
  for (int32_t demand : {DemandEventUpdate, DemandEventUpdateAlt, DemandInitialize}) {
    modelRuntime.nextTimeEvent = 3.0;
    modelRuntime.callEventUpdate = 1;
    EXPECT_EQ(call(demand), 0);
    EXPECT_EQ(modelRuntime.nextTimeEvent, 1e100);
    EXPECT_EQ(modelRuntime.callEventUpdate, 0);
  }
}

// The 26-pass failure, through the test relation that switches in every event pass.
class UnsettledIterationTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    tavelo_test_bare_body = 1;
    ASSERT_EQ(call(DemandInitialize), 0);
    tavelo_test_fault = TestFaultKeepChanging;
  }
};

TEST_F(UnsettledIterationTest, FailsAfter26PassesWithItsMessages) {
  LogCapture log;
  EXPECT_EQ(call(DemandEventUpdate, 1.5), 1);
  EXPECT_EQ(modelRuntime.eventIteration, 26);
  EXPECT_EQ(modelRuntime.status, RunStatusError);
  EXPECT_EQ(computedLevel, 3);  // as the guards of pass 26 left it
  const Lines texts = log.texts();
  ASSERT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[0], "\n");
  EXPECT_EQ(texts[1], "On the final iteration for restart conditions we get:\n");
  EXPECT_EQ(texts[2].rfind("Expression testFault.flip > 0 became ", 0), 0u);  // pass 26
  EXPECT_EQ(texts[3], "\n");
  EXPECT_EQ(texts[4], "ERROR: Finding consistent restart conditions failed at time:  1.5\n");
  EXPECT_EQ(texts[5], "\n");
}

TEST_F(UnsettledIterationTest, WithEventLoggingEveryRepeatIsAnnounced) {
  LogCapture log;
  modelRuntime.printFlags = PrintFlagEvents;
  EXPECT_EQ(call(DemandEventUpdate, 2.0), 1);
  Lines expected;
  for (int pass = 1; pass <= 26; ++pass) {
    expected.push_back("Expression");
    if (pass <= 25) expected.push_back("Iterating to find consistent restart conditions.\n");
  }
  expected.insert(expected.end(),
                  {"\n", "ERROR: Finding consistent restart conditions failed at time:  2\n", "\n"});
  Lines texts = log.texts();
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    if (expected[i] == "Expression")
      EXPECT_EQ(texts[i].rfind("Expression testFault.flip > 0 became ", 0), 0u) << i;
    else
      EXPECT_EQ(texts[i], expected[i]) << i;
  }
}

TEST_F(UnsettledIterationTest, QuietRunStillReportsTheFailure) {
  LogCapture log;
  modelRuntime.printFlags = PrintFlagQuiet;
  EXPECT_EQ(call(DemandEventUpdate, 0.5), 1);
  EXPECT_EQ(log.texts(),
            (Lines{"\n", "ERROR: Finding consistent restart conditions failed at time:  0.5\n",
                   "\n"}));
}

TEST_F(UnsettledIterationTest, NextCallSucceedsOnceTheRelationSettles) {
  EXPECT_EQ(call(DemandEventUpdate), 1);
  tavelo_test_fault = TestFaultNone;
  EXPECT_EQ(call(DemandEventUpdate), 0);
  EXPECT_EQ(modelRuntime.status, RunStatusOk);
  EXPECT_EQ(computedLevel, DemandEventUpdate);
  EXPECT_EQ(call(DemandDerivatives), 0);
  EXPECT_EQ(computedLevel, DemandDerivatives);
}

TEST_F(EventIterationTest, EventLoggingNamesTheEventTime) {
  initialise();
  LogCapture log;
  modelRuntime.printFlags = PrintFlagEvents;
  change_in_first_passes(1);
  EXPECT_EQ(call(DemandEventUpdate, 2.5), 0);
  EXPECT_EQ(log.texts(), (Lines{"Iterating to find consistent restart conditions.\n",
                                "      during event at Time :  2.5\n"}));
  // A settled one-pass event logs nothing.
  log.clear();
  change_in_first_passes(0);
  EXPECT_EQ(call(DemandEventUpdate, 3.0), 0);
  EXPECT_TRUE(log.texts().empty());
}

TEST_F(EventIterationTest, TerminateIsHandedBackAsMinus999) {
  initialise();
  tavelo_test_fault = TestFaultTerminate;
  EXPECT_EQ(call(DemandEventUpdate), RunStatusTerminate);
  EXPECT_EQ(modelRuntime.status, RunStatusTerminate);
  EXPECT_EQ(computedLevel, DemandEventUpdate);  // one pass, normal end

  // At initialisation the first pass asks for a repeat: the call ends at once.
  passes.clear();
  EXPECT_EQ(call(DemandInitialize), RunStatusTerminate);
  EXPECT_EQ(passes.size(), 1u);
  EXPECT_EQ(modelRuntime.initialCall, 1);  // no normal end

  // The status is cleared by the next call.
  tavelo_test_fault = TestFaultNone;
  EXPECT_EQ(call(DemandInitialize), 0);
  EXPECT_EQ(modelRuntime.status, RunStatusOk);
  EXPECT_EQ(modelRuntime.initialCall, 0);
}

TEST_F(EventIterationTest, ABodyFailureWithoutStatusKeepsIterating) {
  initialise();
  passAction = [](const ModelEntryArguments& a) {
    if (modelRuntime.eventIteration == 1) {
      *a.QiErr = 1;  // as a rejected friction solve outside events writes it
      modelRuntime.changed = 1;
    }
  };
  EXPECT_EQ(call(DemandEventUpdate), 1);
  EXPECT_EQ(passes.size(), 2u);
  EXPECT_EQ(computedLevel, DemandEventUpdate);
}

class ModelErrorEntryTest : public EventIterationTest {};

TEST_F(ModelErrorEntryTest, ModelErrorGivesQiErrOneAndTheEntryIsUsableAtOnce) {
  LogCapture log;
  tavelo_test_fault = TestFaultModelError;
  EXPECT_EQ(call(DemandInitialize, 0.25), 1);
  EXPECT_EQ(modelRuntime.status, RunStatusError);
  EXPECT_EQ(log.texts(), (Lines{"The following error was detected at time: 0.25\n",
                                "Test fault: model error\n"}));
  EXPECT_EQ(passes.size(), 1u);
  EXPECT_EQ(modelRuntime.initCounter, 1);

  // The next initialisation is a new one: counter again, constants and parameters again.
  tavelo_test_fault = TestFaultNone;
  passes.clear();
  w[1740] = 0.0;
  EXPECT_EQ(call(DemandInitialize), 0);
  EXPECT_EQ(modelRuntime.status, RunStatusOk);
  EXPECT_EQ(modelRuntime.initCounter, 2);
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].newInit, 1);
  EXPECT_EQ(w[1740], 3.0);
  EXPECT_EQ(computedLevel, 0);
}

TEST_F(ModelErrorEntryTest, ComputedLevelKeepsWhatItHeld) {
  initialise();
  computedLevel = 1;
  tavelo_test_fault = TestFaultModelError;
  EXPECT_EQ(call(DemandDerivatives), 1);
  EXPECT_EQ(computedLevel, 1);
}

FunctionFrame outerFrame{"Outer.function", nullptr};
FunctionFrame innerFrame{"Inner.function", &outerFrame};

TEST_F(ModelErrorEntryTest, QuietModelErrorLeavesNoStaleFramesBehind) {
  initialise();
  LogCapture log;
  modelRuntime.printFlags = PrintFlagQuiet;
  passAction = [](const ModelEntryArguments&) {
    modelRuntime.functionStack = &innerFrame;
    model_error("quiet failure");
  };
  EXPECT_EQ(call(DemandEventUpdate), 1);
  EXPECT_TRUE(log.texts().empty());
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
}

// A buffer exhausted inside a translated function fails that evaluation only: the entry empties
// the buffers and the stack after the error, so the next call allocates again.
TEST_F(ModelErrorEntryTest, ExhaustedBufferDoesNotFailTheNextCall) {
  initialise();
  LogCapture log;
  passAction = [](const ModelEntryArguments&) {
    modelRuntime.functionStack = &innerFrame;
    PushMark();
    RealVectorAlloc(RealbufferSize - 1);
    RealVectorAlloc(1);
  };
  EXPECT_EQ(call(DemandDerivatives), 1);
  EXPECT_EQ(modelRuntime.functionStack, nullptr);
  EXPECT_EQ(std::memcmp(&currentMark, &startMark, sizeof currentMark), 0);
  passAction = [](const ModelEntryArguments&) {
    RealVectorAlloc(RealbufferSize - 1);
    end_equation_reset();
  };
  EXPECT_EQ(call(DemandDerivatives), 0);
}

TEST_F(ModelErrorEntryTest, NoOtherExceptionLeavesTheEntry) {
  initialise();
  passAction = [](const ModelEntryArguments&) { throw std::bad_alloc(); };
  EXPECT_EQ(call(DemandDerivatives), 1);
  EXPECT_EQ(modelRuntime.status, RunStatusError);
  passAction = nullptr;
  EXPECT_EQ(call(DemandDerivatives), 0);
  EXPECT_EQ(computedLevel, DemandDerivatives);
}

TEST_F(EventIterationTest, ACallFromInsideARunningCallIsRefused) {
  initialise();
  int32_t innerQiErr = -5;
  int32_t innerLevel = 0;
  int calls = 0;
  passAction = [&](const ModelEntryArguments& a) {
    if (calls++ > 0) return;
    int32_t demand = DemandInitialize;
    innerQiErr = 0;
    dsblock_(&demand, &innerLevel, a.time, a.states, nullptr, a.inputs, a.parameters, nullptr,
             nullptr, a.derivatives, a.outputs, a.auxiliaries, a.eventIndicators, nullptr,
             nullptr, nullptr, &innerQiErr);
  };
  EXPECT_EQ(call(DemandDerivatives), 0);
  EXPECT_EQ(innerQiErr, 1);
  EXPECT_EQ(passes.size(), 1u);  // the inner call ran no pass
  EXPECT_EQ(modelRuntime.initCounter, 1);
  EXPECT_EQ(computedLevel, DemandDerivatives);
  EXPECT_EQ(call(DemandDerivatives), 0);  // and the guard is released afterwards
}

TEST(RuntimeSizes, AreTheModelCounts) {
  int32_t v[10];
  for (int32_t& k : v) k = -1;
  set_runtime_sizes(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
  const int32_t expected[10] = {4, 0, 0, 0, 1768, 62, 16, 16, 0, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(v[i], expected[i]) << i;
}

}  // namespace
