// The CPU clock: the tick count from clock(), its 32-bit wrap, the clock failure and the
// elapsed-time helper, driven by a scripted tick reading.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "runtime/cpu_clock.h"

namespace {

constexpr double TwoTo32 = 4294967296.0;

TEST(CpuTicks, MillisecondsNarrowedModulo2To32) {
  constexpr std::clock_t PerMs = CLOCKS_PER_SEC / 1000;
  struct Case {
    long long milliseconds;
    std::clock_t extra;  // clock units below a millisecond
    int32_t ticks;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0, PerMs - 1, 0},  // truncated, not rounded
      {1, PerMs - 1, 1},
      {2147483647, 0, 2147483647},
      {2147483648, 0, -2147483647 - 1},
      {4294967295, 0, -1},
      {4294967296, 0, 0},
      {4294967296 + 5, 0, 5},
  };
  for (const Case& c : cases) {
    const auto clock = static_cast<std::clock_t>(c.milliseconds * PerMs + c.extra);
    EXPECT_EQ(cpu_ticks_from_clock(clock), c.ticks) << c.milliseconds << " ms + " << c.extra;
  }
  // A failed clock() stays -1, not the 0 ms its division would give.
  EXPECT_EQ(cpu_ticks_from_clock(static_cast<std::clock_t>(-1)), -1);
}

class CpuClock : public ::testing::Test {
 protected:
  void SetUp() override {
    cpuClock = CpuClockState{};
    cpuTickReader = &CpuClock::scripted;
    readings().clear();
    next() = 0;
  }
  void TearDown() override {
    cpuClock = CpuClockState{};
    cpuTickReader = read_cpu_ticks;
  }
  // The tick readings the next calls of cpu_timer see, in order.
  static void script(std::vector<int32_t> ticks) {
    readings() = std::move(ticks);
    next() = 0;
  }
  static size_t reads() { return next(); }

 private:
  static std::vector<int32_t>& readings() {
    static std::vector<int32_t> r;
    return r;
  }
  static size_t& next() {
    static size_t n = 0;
    return n;
  }
  static int32_t scripted() {
    EXPECT_LT(next(), readings().size()) << "unexpected clock reading";
    return next() < readings().size() ? readings()[next()++] : 0;
  }
};

TEST_F(CpuClock, ModeZeroReturnsAndStoresTheTickCount) {
  script({250, 1250});
  double mark = -1.0;
  EXPECT_EQ(cpu_timer(&mark, 0), 250.0);
  EXPECT_EQ(mark, 250.0);
  EXPECT_EQ(cpu_timer(nullptr, 0), 1250.0);  // no mark to store into
  EXPECT_EQ(cpuClock.lastTicks, 1250);
}

TEST_F(CpuClock, OtherModesReturnSecondsSinceTheMark) {
  script({1000, 3500, 3500});
  double mark = 0.0;
  cpu_timer(&mark, 0);
  EXPECT_EQ(cpu_timer(&mark, 1), 2.5);
  EXPECT_EQ(cpu_timer(&mark, -3), 2.5);
  EXPECT_EQ(mark, 1000.0);  // a measurement does not move the mark
}

// The count goes from 2^31 - 1 to -2^31 as a signed 32-bit number: each drop adds 2^32, so the
// value keeps increasing; an equal reading is no wrap.
TEST_F(CpuClock, WrapOfTheTickCountKeepsTheValueIncreasing) {
  script({2147483000, 2147483000, -2147483000, -1000, 0, 2147483647, -2147483648});
  double mark = 0.0;
  EXPECT_EQ(cpu_timer(&mark, 0), 2147483000.0);
  EXPECT_EQ(cpu_timer(nullptr, 0), 2147483000.0);
  EXPECT_EQ(cpu_timer(nullptr, 0), -2147483000.0 + TwoTo32);
  EXPECT_EQ(cpuClock.wrapOffset, TwoTo32);
  EXPECT_EQ(cpu_timer(&mark, 1), (-1000.0 + TwoTo32 - 2147483000.0) * 0.001);
  EXPECT_EQ(cpu_timer(nullptr, 0), TwoTo32);  // -1 to 0 continues without a wrap
  EXPECT_EQ(cpu_timer(nullptr, 0), 2147483647.0 + TwoTo32);
  EXPECT_EQ(cpu_timer(nullptr, 0), -2147483648.0 + 2 * TwoTo32);
  EXPECT_EQ(cpuClock.wrapOffset, 2 * TwoTo32);
}

// A failed reading (-1) gives 0 ticks and leaves the wrap tracking alone, so the next good
// reading continues from the last one.
TEST_F(CpuClock, ClockFailureCountsAsZeroTicks) {
  script({5000, -1, -1, 7000});
  double mark = 0.0;
  EXPECT_EQ(cpu_timer(&mark, 0), 5000.0);
  EXPECT_EQ(cpu_timer(&mark, 1), -5.0);  // (0 - mark) seconds
  double failedMark = 123.0;
  EXPECT_EQ(cpu_timer(&failedMark, 0), 0.0);
  EXPECT_EQ(failedMark, 0.0);
  EXPECT_EQ(cpuClock.lastTicks, 5000);
  EXPECT_EQ(cpuClock.wrapOffset, 0.0);
  EXPECT_EQ(cpu_timer(&mark, 1), 2.0);
}

TEST_F(CpuClock, FailureOnTheFirstReading) {
  script({-1, 40});
  double mark = 9.0;
  EXPECT_EQ(cpu_timer(&mark, 0), 0.0);
  EXPECT_EQ(mark, 0.0);
  EXPECT_EQ(cpu_timer(nullptr, 0), 40.0);
  EXPECT_EQ(cpuClock.wrapOffset, 0.0);
}

// Only a -1 below the last reading is a failure: after the wrap the count passes -1 on its way
// to 0, and that reading is an ordinary one.
TEST_F(CpuClock, MinusOneAboveTheLastReadingIsATickCount) {
  script({2147483647, -2147483648, -2, -1, 3});
  double mark = 0.0;
  cpu_timer(&mark, 0);
  cpu_timer(nullptr, 0);
  cpu_timer(nullptr, 0);
  EXPECT_EQ(cpu_timer(nullptr, 0), -1.0 + TwoTo32);
  EXPECT_EQ(cpuClock.lastTicks, -1);
  EXPECT_EQ(cpu_timer(&mark, 1), (3.0 + TwoTo32 - 2147483647.0) * 0.001);
  EXPECT_EQ(cpuClock.wrapOffset, TwoTo32);
}

TEST_F(CpuClock, HookReplacesTheWholeTimer) {
  static double* seenMark = nullptr;
  static int seenMode = 0;
  cpuClock.clockHook = [](double* mark, int mode) {
    seenMark = mark;
    seenMode = mode;
    return 42.5;
  };
  script({});
  double mark = 0.0;
  EXPECT_EQ(cpu_timer(&mark, 7), 42.5);
  EXPECT_EQ(seenMark, &mark);
  EXPECT_EQ(seenMode, 7);
  EXPECT_EQ(reads(), 0u);  // the clock is not read
}

TEST_F(CpuClock, ElapsedTimeFromTheFirstCall) {
  script({300, 1300, 4000});
  EXPECT_EQ(cpu_time_elapsed(), 300.0);  // the first call returns the tick count
  EXPECT_EQ(cpu_time_elapsed(), 1.0);
  EXPECT_EQ(cpu_time_elapsed(), 3700.0 * 0.001);  // still from the first call
  EXPECT_EQ(reads(), 3u);
}

}  // namespace
