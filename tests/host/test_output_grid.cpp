// The output grid's arithmetic: the first point after the start, the points as whole
// milliseconds, the stop time's snap, the nearest point to a time.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/errors.h"
#include "host/output_grid.h"

namespace {

constexpr double Past = std::numeric_limits<double>::infinity();

struct FirstPoints {
  const char* what;
  double start, interval;
  double first, second;
};

TEST(OutputGrid, FirstPointsAfterTheStart) {
  const FirstPoints cases[] = {
      {"start at 0", 0.0, 0.001, 0.001, 0.002},
      {"start between two milliseconds", 0.0003, 0.001, 0.001, 0.002},
      {"start on a point: its row is the initialisation's", 0.002, 0.001, 0.003, 0.004},
      {"start on a millisecond between points", 0.001, 0.002, 0.002, 0.004},
      {"start between points of 2 ms", 0.0003, 0.002, 0.002, 0.004},
      // Within the model's 1e-7 s of a millisecond the start's row stands for that point.
      {"start 0.99e-7 s before a point", 0.000999901, 0.001, 0.002, 0.003},
      {"start 1.01e-7 s before a point", 0.000999899, 0.001, 0.001, 0.002},
      {"start 5e-11 s before a point", 0.00099999995, 0.001, 0.002, 0.003},
      {"start just after a point", 0.0010000001, 0.001, 0.002, 0.003},
      {"negative start", -0.0015, 0.001, -0.001, 0.0},
      {"far start", 1e8, 0.001, 100000000.001, 100000000.002},
      {"interval of 0.3 s", 0.0005, 0.3, 0.3, 0.6},
  };
  for (const FirstPoints& c : cases) {
    SCOPED_TRACE(c.what);
    const OutputGrid grid(c.start, c.start + 10.0, c.interval);
    EXPECT_EQ(grid.point(0), c.first);
    EXPECT_EQ(grid.point(1), c.second);
  }
}

TEST(OutputGrid, PointsAreTheirMillisecondsNotMultiplesOfTheInterval) {
  // 9 · 0.001 is 0.009000000000000001; the model records its row at 0.009 itself.
  const OutputGrid grid(0.0, 1.0, 0.001);
  ASSERT_NE(9 * 0.001, 0.009);
  EXPECT_EQ(grid.point(8), 0.009);
  for (long long k = 0; k < 999; ++k) ASSERT_EQ(grid.point(k), static_cast<double>(k + 1) / 1000);
}

struct StopCase {
  const char* what;
  double stop;
  double last;    // the point at index 9 (10 ms)
  double beyond;  // the one after it
};

TEST(OutputGrid, StopTimeWithinAMillionthOfAnIntervalIsThePoint) {
  const StopCase cases[] = {
      {"stop on the point", 0.01, 0.01, Past},
      {"stop 5e-10 s after the point", 0.0100000005, 0.0100000005, Past},
      {"stop 5e-10 s before the point", 0.0099999995, 0.0099999995, Past},
      {"stop 1.1e-9 s after the point", 0.0100000011, 0.01, Past},
      {"stop 1.1e-9 s before the point", 0.0099999989, Past, Past},
      {"stop half way to the next point", 0.0105, 0.01, Past},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.what);
    const OutputGrid grid(0.0, c.stop, 0.001);
    EXPECT_EQ(grid.point(8), 0.009);
    EXPECT_EQ(grid.point(9), c.last);
    EXPECT_EQ(grid.point(10), c.beyond);
  }
}

TEST(OutputGrid, NearestPointRoundsToTheNearestIndex) {
  const OutputGrid grid(0.0, 1.0, 0.002);  // points 0.002, 0.004, ...
  const std::pair<double, long long> cases[] = {
      {0.002, 0}, {0.0029, 0}, {0.0031, 1}, {0.0039, 1}, {0.0041, 1}, {0.001, -1}, {0.0, -1},
  };
  for (const auto& [t, k] : cases) EXPECT_EQ(grid.nearest(t), k) << "t = " << t;
}

TEST(OutputGrid, RefusesIntervalsAndTimesItCannotCount) {
  EXPECT_THROW(OutputGrid(0.0, 1.0, 0.0015), HostError);
  EXPECT_THROW(OutputGrid(0.0, 1.0, 0.0), HostError);
  EXPECT_THROW(OutputGrid(0.0, 1.0000001e9, 0.001), HostError);
  EXPECT_THROW(OutputGrid(-1.0000001e9, 0.0, 0.001), HostError);
  EXPECT_NO_THROW(OutputGrid(-1e9, 1e9, 0.001));
}

}  // namespace
