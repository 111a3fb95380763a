// Built-in operators: the memory vector, time-event requests, the two sample operators,
// element addresses, terminate and the stop request.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "log_capture.h"
#include "runtime/builtins.h"
#include "runtime/runtime_state.h"

namespace {

using Lines = std::vector<std::string>;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NoEvent = 1e100;

// 1 + k units in the last place.
double one_plus_ulps(int k) { return 1.0 + k * 0x1p-52; }

class BuiltinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    modelRuntime = ModelRuntimeState{};
    modelRuntime.time = 0.25;
    sampleStorage = SampleStorage{count, flag, boolean};
  }
  void TearDown() override {
    modelRuntime = ModelRuntimeState{};
    sampleStorage = SampleStorage{};
  }

  // Runs f, which must raise a model error, and returns the message of the report.
  std::string model_error_of(const std::function<void()>& f) {
    log.clear();
    EXPECT_TRUE(raises_model_error(f));
    EXPECT_EQ(modelRuntime.status, RunStatusError);
    modelRuntime.status = RunStatusOk;
    // The message follows the time line of the report.
    const Lines lines = log.texts();
    for (size_t k = 0; k + 1 < lines.size(); ++k)
      if (lines[k].rfind("The following error was detected at time:", 0) == 0) return lines[k + 1];
    return std::string();
  }

  // Storage for samples at the indices 0 and 2 (slots 0-1 and 2-3), with a spare slot.
  double count[5] = {};
  int32_t flag[5] = {};
  int32_t boolean[5] = {};
  LogCapture log;
};

// ---------------------------------------------------------------------------------------------
// getMemory and putMemory
// ---------------------------------------------------------------------------------------------

TEST_F(BuiltinsTest, MemoryArgumentMustBeANonEmptyVector) {
  struct Case {
    int d1, d2;
    const char* error;  // null: accepted
  };
  const Case cases[] = {
      {1, 2, nullptr},  {2, 1, nullptr},   {3, 4, nullptr},  {1, 1, "must be a vector."},
      {0, 1, "is empty."}, {1, 0, "is empty."}, {0, 0, "is empty."}, {-1, -1, "is empty."},
      {-2, 3, "is empty."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.d1 << " x " << c.d2);
    double m[2] = {1.5, 2.5};
    if (c.error == nullptr) {
      EXPECT_EQ(getMemory(m, c.d1, c.d2), 1.5);
      EXPECT_EQ(putMemory(1, m, c.d1, c.d2, 7.0), 0.0);
      EXPECT_EQ(m[0], 7.0);
      EXPECT_EQ(m[1], 2.5);
      continue;
    }
    EXPECT_EQ(model_error_of([&] { getMemory(m, c.d1, c.d2); }),
              std::string("Memory argument to getMemory ") + c.error + "\n");
    // Rejected whether or not it would store.
    for (int doPut : {0, 1}) {
      EXPECT_EQ(model_error_of([&] { putMemory(doPut, m, c.d1, c.d2, 7.0); }),
                std::string("Memory argument to putMemory ") + c.error + "\n");
    }
    EXPECT_EQ(m[0], 1.5);
  }
}

TEST_F(BuiltinsTest, PutMemoryWithoutDoPutChangesNothing) {
  double m[2] = {1.5, 2.5};
  EXPECT_EQ(putMemory(0, m, 2, 1, 7.0), 0.0);
  EXPECT_EQ(m[0], 1.5);
  EXPECT_EQ(m[1], 2.5);
  EXPECT_TRUE(log.texts().empty());
}

// ---------------------------------------------------------------------------------------------
// register_time_event
// ---------------------------------------------------------------------------------------------

TEST_F(BuiltinsTest, TimeEventRequestsKeepTheEarliestAndGatherCloseOnes) {
  struct Case {
    const char* what;
    std::vector<double> requests;
    double expected;
    double largestSampleStart = 0.0;
    double staleEarliest = 0.0;  // earliestRequestedTime left from an earlier event call
  };
  const Case cases[] = {
      {"one request", {1.0}, 1.0},
      {"a later request is dropped", {1.0, 2.0}, 1.0},
      {"an earlier request replaces", {1.0, 0.5}, 0.5},
      {"within eps: the later one wins", {1.0, 1.0 + 1e-15}, 1.0 + 1e-15},
      {"5 ulps above is within eps", {1.0, one_plus_ulps(5)}, one_plus_ulps(5)},
      {"6 ulps above is eps: dropped", {1.0, one_plus_ulps(6)}, 1.0},
      {"just below the pending one: it stays", {1.0, std::nextafter(1.0, 0.0)}, 1.0},
      // 12 ulps below 1: the request plus its eps comes to the pending 1.0, not below it.
      {"eps below the pending one: it stays", {1.0, 1.0 - 0x1.8p-50}, 1.0},
      {"gathering is anchored at the earliest request",
       {1.0, one_plus_ulps(5), one_plus_ulps(10)}, one_plus_ulps(5)},
      {"eps above the earliest still gathers", {1.0, one_plus_ulps(5), one_plus_ulps(6)},
       one_plus_ulps(6)},
      // 4 and 2 ulps below 1: both gather at the pending 1.0, which is the latest of them.
      {"gathering never lowers the pending one", {1.0, 1.0 - 0x1p-51, 1.0 - 0x1p-52}, 1.0},
      {"large sample starts widen eps", {1.0, 1.0 + 1e-13}, 1.0 + 1e-13, 1e3},
      {"without them the same request is dropped", {1.0, 1.0 + 1e-13}, 1.0},
      {"an earliest time of an earlier call is forgotten", {1.0}, 1.0, 0.0, 0.2},
      {"negative times", {-1.0, -2.0, -3.0}, -3.0},
      {"before zero eps goes by the magnitude", {-1.0, -1.0 + 0x1p-51}, -1.0 + 0x1p-51},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    modelRuntime.nextTimeEvent = NoEvent;  // as every event call leaves it
    modelRuntime.earliestRequestedTime = c.staleEarliest;
    modelRuntime.largestSampleStart = c.largestSampleStart;
    for (double t : c.requests) register_time_event(t);
    EXPECT_EQ(modelRuntime.nextTimeEvent, c.expected);
  }
}

// ---------------------------------------------------------------------------------------------
// The sample operators
// ---------------------------------------------------------------------------------------------

TEST(SamplePeriodCount, RoundsUp) {
  EXPECT_EQ(sample_period_count(0.3, 0.0, 0.1), 3.0);   // 2.9999999999999996
  EXPECT_EQ(sample_period_count(0.2, 0.0, 0.1), 2.0);   // exactly 2
  EXPECT_EQ(sample_period_count(0.21, 0.0, 0.1), 3.0);  // 2.1, not to nearest
  EXPECT_EQ(sample_period_count(1.25, 0.5, 0.5), 2.0);  // 1.5 from start
}

TEST_F(BuiltinsTest, SampleAtAnInstantWithinEpsCountsItAsReached) {
  // 0.1 * 3 is 0.30000000000000004, just after the event time.
  EXPECT_EQ(sample_operator(0.3, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(count[0], 4.0);
  EXPECT_EQ(count[1], 4.0);
  EXPECT_EQ(flag[0], 1);
  EXPECT_EQ(modelRuntime.nextTimeEvent, 0.4);

  // The validated variant counts in slot 1 and leaves slot 0 at the recount.
  count[0] = count[1] = 0.0;
  modelRuntime.nextTimeEvent = NoEvent;
  EXPECT_EQ(sample_operator_validated(0.3, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(count[0], 3.0);
  EXPECT_EQ(count[1], 4.0);
  EXPECT_EQ(modelRuntime.nextTimeEvent, 0.4);
}

// What one call of the plain operator does from a given count and Boolean.
struct PlainCase {
  const char* what;
  double time, start, interval;
  int initial, event;
  double countBefore;
  int32_t booleanWord;
  int result;
  double countAfter;
  double nextTimeEvent;  // NoEvent: nothing registered
  double largestSampleStart;
};

TEST_F(BuiltinsTest, PlainSampleRecountsAdvancesAndRegisters) {
  const PlainCase cases[] = {
      {"initialisation before start: the first instant is start", 0.0, 0.5, 0.25, 1, 1, 7.0, 0,
       0, 0.0, 0.5, 0.5},
      {"initialisation recounts even downwards", 0.25, 0.0, 0.1, 1, 1, 10.0, 0, 0, 3.0,
       0.30000000000000004, 0.0},
      {"an event never lowers the count", 0.25, 0.0, 0.1, 0, 1, 10.0, 0, 0, 10.0, 1.0, 0.0},
      {"a recount skips an instant passed between events", 0.35, 0.0, 0.1, 0, 1, 0.0, 0, 0, 4.0,
       0.4, 0.0},
      {"with the Boolean set the passed instants are counted", 0.35, 0.0, 0.1, 0, 1, 0.0, 1, 1,
       4.0, 0.4, 0.0},
      {"with the Boolean set the start does not widen eps", 0.35, -2.0, 0.1, 0, 1, 24.0, 1, 0, 24.0,
       0.40000000000000036, 0.0},
      {"an instant 1e-14 after the time is reached", 1.0, 1e-14, 1.0, 0, 1, 0.0, 0, 1, 2.0,
       2.00000000000001, 1e-14},
      {"an instant 6e-14 after it is not", 1.0, 6e-14, 1.0, 0, 1, 0.0, 0, 0, 1.0,
       1.00000000000006, 6e-14},
      {"before zero eps goes by the time's magnitude", -1.0, -1.0 + 1e-14, 1.0, 0, 1, 0.0, 1, 1,
       1.0, -1.0 + 1e-14 + 1.0, 0.0},
      {"a count that reaches 2^53 ends past the time as any other", 0.0, 1.0 - 0x1p53, 1.0, 0, 1,
       0x1p53 - 4.0, 1, 1, 0x1p53, 1.0, 0.0},
      {"no event, no initialisation: nothing", 0.35, 0.0, 0.1, 0, 0, 2.0, 0, 0, 2.0, NoEvent,
       0.0},
      {"the start's magnitude widens the tolerance", 0.35, -2.0, 0.1, 0, 1, 0.0, 0, 0, 24.0,
       0.40000000000000036, 2.0},
  };
  for (const PlainCase& c : cases) {
    SCOPED_TRACE(c.what);
    modelRuntime.nextTimeEvent = NoEvent;
    modelRuntime.largestSampleStart = 0.0;
    count[0] = c.countBefore;
    count[1] = -1.0;
    flag[0] = 0;
    boolean[0] = c.booleanWord;
    EXPECT_EQ(sample_operator(c.time, c.start, c.interval, 0, c.initial, c.event), c.result);
    EXPECT_EQ(count[0], c.countAfter);
    EXPECT_EQ(count[1], c.event ? c.countAfter : -1.0);
    EXPECT_EQ(flag[0], c.event);
    EXPECT_EQ(modelRuntime.nextTimeEvent, c.nextTimeEvent);
    EXPECT_EQ(modelRuntime.largestSampleStart, c.largestSampleStart);
  }
}

TEST_F(BuiltinsTest, ValidatedSampleGatesTheRecountByAZeroCountAndHasMode) {
  struct Case {
    const char* what;
    double time;
    int mode, event;
    double countBefore;
    int result;
    double slot0, slot1;
    double nextTimeEvent;
  };
  // start 0, interval 0.1 throughout.
  const Case cases[] = {
      {"zero count at an event: recount, slot 1 advances", 0.35, 0, 1, 0.0, 0, 4.0, 4.0, 0.4},
      {"nonzero count at an event: no recount", 0.35, 0, 1, 2.0, 1, 2.0, 4.0, 0.4},
      {"mode 1 recounts, also downwards", 0.25, 1, 1, 10.0, 0, 3.0, 3.0, 0.30000000000000004},
      {"mode 1 without an event only recounts", 0.25, 1, 0, 10.0, 0, 3.0, -1.0, NoEvent},
      {"mode 2 with a zero count returns at once", 0.35, 2, 1, 0.0, 0, 0.0, -1.0, NoEvent},
      {"mode 2 with a count returns at once", 0.35, 2, 1, 2.0, 0, 2.0, -1.0, NoEvent},
      {"mode 2 without an event returns at once too", 0.35, 2, 0, 10.0, 0, 10.0, -1.0, NoEvent},
      {"no mode, no event: no recount from a zero count", 0.35, 0, 0, 0.0, 0, 0.0, -1.0,
       NoEvent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    modelRuntime.nextTimeEvent = NoEvent;
    count[0] = c.countBefore;
    count[1] = -1.0;
    flag[0] = 0;
    boolean[0] = 1;  // not read by this variant
    EXPECT_EQ(sample_operator_validated(c.time, 0.0, 0.1, 0, c.mode, c.event), c.result);
    EXPECT_EQ(count[0], c.slot0);
    EXPECT_EQ(count[1], c.slot1);
    EXPECT_EQ(flag[0], c.nextTimeEvent == NoEvent ? 0 : 1);
    EXPECT_EQ(modelRuntime.nextTimeEvent, c.nextTimeEvent);
  }
}

TEST_F(BuiltinsTest, ModeTwoChangesNothingEvenWithALargeStart) {
  EXPECT_EQ(sample_operator_validated(0.35, -50.0, 0.1, 0, 2, 1), 0);
  EXPECT_EQ(modelRuntime.largestSampleStart, 0.0);
}

TEST_F(BuiltinsTest, TwoSamplesKeepToTheirOwnSlots) {
  boolean[2] = 1;  // sample 2's Boolean must not gate sample 0
  count[2] = 1.0;
  EXPECT_EQ(sample_operator(0.3, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(sample_operator(0.3, 0.05, 0.2, 2, 0, 1), 1);  // instant 0.25 reached
  EXPECT_EQ(count[0], 4.0);
  EXPECT_EQ(count[1], 4.0);
  EXPECT_EQ(count[2], 2.0);
  EXPECT_EQ(count[3], 2.0);
  EXPECT_EQ(count[4], 0.0);
  EXPECT_EQ(flag[0], 1);
  EXPECT_EQ(flag[1], 0);
  EXPECT_EQ(flag[2], 1);
  EXPECT_EQ(flag[3], 0);
  EXPECT_EQ(modelRuntime.nextTimeEvent, 0.4);  // the earlier of 0.4 and 0.45

  // The validated variant's slot of sample 2 is slot 3; sample 0's slots stay.
  count[2] = 0.0;
  EXPECT_EQ(sample_operator_validated(0.3, 0.05, 0.2, 2, 0, 1), 0);
  EXPECT_EQ(count[2], 2.0);
  EXPECT_EQ(count[3], 2.0);
  EXPECT_EQ(count[0], 4.0);
  EXPECT_EQ(count[1], 4.0);
}

TEST_F(BuiltinsTest, BothSampleVariantsRejectAnIntervalThatIsNotPositive) {
  for (double interval : {0.0, -0.0, -0.1, NaN, -Inf}) {
    SCOPED_TRACE(interval);
    for (int mode : {0, 2}) {
      count[0] = 2.0;
      const std::function<void()> calls[] = {
          [&] { sample_operator(0.3, 0.0, interval, 0, mode == 2, 1); },
          [&] { sample_operator_validated(0.3, 0.0, interval, 0, mode, 1); },
      };
      for (const auto& call : calls) {
        modelRuntime.nextTimeEvent = NoEvent;
        EXPECT_EQ(model_error_of(call), "Sample did not have positive sample interval\n");
        EXPECT_EQ(count[0], 2.0);
        EXPECT_EQ(flag[0], 0);
        EXPECT_EQ(modelRuntime.nextTimeEvent, NoEvent);
      }
    }
  }
}

TEST_F(BuiltinsTest, SampleEndsWhenTheCountCanGrowNoMore) {
  // An infinite time, and a count beyond 2^53 whose next instant never passes the time.
  EXPECT_EQ(sample_operator(Inf, 0.0, 0.1, 0, 0, 1), 0);
  EXPECT_EQ(count[0], Inf);
  count[0] = 0.0;
  EXPECT_EQ(sample_operator_validated(1e10, 0.0, 1e-7, 0, 0, 1), 0);
  EXPECT_GT(count[0], 0x1p53);
  EXPECT_EQ(count[1], count[0]);
}

// ---------------------------------------------------------------------------------------------
// Element addresses, terminate, stop, hooks
// ---------------------------------------------------------------------------------------------

TEST_F(BuiltinsTest, ElementAddressIsRowMajorAndChecked) {
  double data[24] = {};
  const int dims2[] = {2, 3};
  const int dims3[] = {2, 3, 4};
  EXPECT_EQ(real_element_address(2, dims2, data, 1, 1), data);
  EXPECT_EQ(real_element_address(2, dims2, data, 1, 3), data + 2);
  EXPECT_EQ(real_element_address(2, dims2, data, 2, 1), data + 3);
  EXPECT_EQ(real_element_address(2, dims2, data, 2, 3), data + 5);
  EXPECT_EQ(real_element_address(3, dims3, data, 2, 3, 4), data + 23);
  EXPECT_EQ(real_element_address(3, dims3, data, 2, 1, 2), data + 13);
  for (int j : {0, 4}) {
    SCOPED_TRACE(j);
    EXPECT_EQ(model_error_of([&] { real_element_address(2, dims2, data, 1, j); }),
              "Index out of bounds\n");
    EXPECT_EQ(log.texts().front(), "(j>=1)&&(j<=dim)\n");
  }
}

TEST_F(BuiltinsTest, TerminateLogsOnceAndSetsTheStatus) {
  terminate_simulation("Done with the run.");
  EXPECT_EQ(modelRuntime.status, RunStatusTerminate);
  EXPECT_EQ(log.texts(), (Lines{"Simulation successfully terminated\n", "Done with the run.\n"}));
  log.clear();
  terminate_simulation("Again.");
  EXPECT_EQ(modelRuntime.status, RunStatusTerminate);
  EXPECT_TRUE(log.texts().empty());

  // A stop request does not keep terminate from reporting.
  modelRuntime.status = RunStatusOk;
  set_stop_status();
  EXPECT_EQ(modelRuntime.status, RunStatusStop);
  terminate_simulation("After a stop.");
  EXPECT_EQ(modelRuntime.status, RunStatusTerminate);
  EXPECT_EQ(log.texts().size(), 2u);
}

TEST_F(BuiltinsTest, SmallQueries) {
  modelRuntime.startTime = 0.75;
  modelRuntime.event = 1;
  EXPECT_EQ(get_initial_time(), 0.75);
  EXPECT_EQ(get_event_flag(), 1);
  modelRuntime.event = 0;
  EXPECT_EQ(get_event_flag(), 0);
  model_hook_none();
  EXPECT_EQ(model_hook_zero(), 0);
  EXPECT_TRUE(log.texts().empty());
}

}  // namespace
