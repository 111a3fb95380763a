// The experiment: its times and tolerance from the command line and the model's default
// experiment, the model's time scale; the output grid's arithmetic: the first point after the
// start, the points as whole milliseconds, the stop time's snap, the nearest point to a time.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "host/errors.h"
#include "host/experiment.h"

namespace {

constexpr double Past = std::numeric_limits<double>::infinity();

// The interval of that many seconds, a whole number of milliseconds.
Interval interval(double seconds) { return interval_of(seconds).value(); }

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
    const OutputGrid grid(c.start, c.start + 10.0, interval(c.interval));
    EXPECT_EQ(grid.point(0), c.first);
    EXPECT_EQ(grid.point(1), c.second);
  }
}

TEST(OutputGrid, PointsAreTheirMillisecondsNotMultiplesOfTheInterval) {
  // 9 · 0.001 is 0.009000000000000001; the model records its row at 0.009 itself.
  const OutputGrid grid(0.0, 1.0, interval(0.001));
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
    const OutputGrid grid(0.0, c.stop, interval(0.001));
    EXPECT_EQ(grid.point(8), 0.009);
    EXPECT_EQ(grid.point(9), c.last);
    EXPECT_EQ(grid.point(10), c.beyond);
  }
}

TEST(OutputGrid, NearestPointRoundsToTheNearestIndex) {
  const OutputGrid grid(0.0, 1.0, interval(0.002));  // points 0.002, 0.004, ...
  const std::pair<double, long long> cases[] = {
      {0.002, 0}, {0.0029, 0}, {0.0031, 1}, {0.0039, 1}, {0.0041, 1}, {0.001, -1}, {0.0, -1},
  };
  for (const auto& [t, k] : cases) EXPECT_EQ(grid.nearest(t), k) << "t = " << t;
}

TEST(OutputGrid, RefusesTimesItCannotCount) {
  const Interval ms = interval(0.001);
  EXPECT_THROW(OutputGrid(0.0, 1.0000001e9, ms), HostError);
  EXPECT_THROW(OutputGrid(-1.0000001e9, 0.0, ms), HostError);
  EXPECT_NO_THROW(OutputGrid(-1e9, 1e9, ms));
}

ModelDescription with_default_experiment(std::optional<double> start, std::optional<double> stop,
                                         std::optional<double> tolerance = {}) {
  ModelDescription d;
  d.defaultStart = start;
  d.defaultStop = stop;
  d.defaultTolerance = tolerance;
  return d;
}

struct Resolved {
  const char* what;
  GivenExperiment given;
  ModelDescription model;
  double start, stop, tolerance;
};

TEST(Experiment, CommandLineBeforeDefaultExperimentBeforeTheHostsDefaults) {
  const GivenExperiment none;
  const ModelDescription tavelo = with_default_experiment(0.0, 10.0, 1e-6);
  const Resolved cases[] = {
      {"the model's own", none, tavelo, 0.0, 10.0, 1e-6},
      {"no default experiment", none, ModelDescription{}, 0.0, 1.0, DefaultTolerance},
      {"a start alone: a second after it", {5.0, {}, {}, {}}, ModelDescription{}, 5.0, 6.0, 1e-6},
      {"a stop alone", {{}, 2.0, {}, {}}, tavelo, 0.0, 2.0, 1e-6},
      {"a start before the model's stop", {4.0, {}, {}, {}}, tavelo, 4.0, 10.0, 1e-6},
      {"a tolerance given", {{}, {}, {}, 1e-9}, tavelo, 0.0, 10.0, 1e-9},
      {"a given tolerance stands for a broken one",
       {{}, {}, {}, 1e-3}, with_default_experiment(0.0, 1.0, 0.0), 0.0, 1.0, 1e-3},
      {"the farthest times", {}, with_default_experiment(-1e9, 1e9), -1e9, 1e9, 1e-6},
  };
  for (const Resolved& c : cases) {
    SCOPED_TRACE(c.what);
    const Experiment e = resolve_experiment(c.given, c.model);
    EXPECT_EQ(e.start, c.start);
    EXPECT_EQ(e.stop, c.stop);
    EXPECT_EQ(e.tolerance, c.tolerance);
  }
}

struct Refused {
  const char* what;
  GivenExperiment given;
  ModelDescription model;
  bool usage;  // a bad command line rather than a broken FMU
  const char* message;
};

TEST(Experiment, TimesWithoutARangeAndBrokenDefaultExperimentsAreRefused) {
  const GivenExperiment none;
  const Refused cases[] = {
      {"a default experiment that ends before it starts", none,
       with_default_experiment(2.0, 1.0), false,
       "modelDescription.xml: the default experiment's stop time 1 s does not lie after its "
       "start time 2 s"},
      {"one that ends where it starts", none, with_default_experiment(2.0, 2.0), false,
       "modelDescription.xml: the default experiment's stop time 2 s does not lie after its "
       "start time 2 s"},
      {"a stop before the model's start", {{}, 1.0, {}, {}}, with_default_experiment(2.0, 5.0),
       true, "the stop time 1 s does not lie after the start time 2 s"},
      {"a start at the model's stop", {10.0, {}, {}, {}}, with_default_experiment(0.0, 10.0),
       true, "the stop time 10 s does not lie after the start time 10 s"},
      {"a tolerance the integrator cannot meet", none,
       with_default_experiment(0.0, 1.0, 1e-17), false,
       "modelDescription.xml: the default experiment's tolerance 1e-17 lies below "
       "2.220446049250313e-16, the smallest the integrator can meet (its unit roundoff)"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      resolve_experiment(c.given, c.model);
      ADD_FAILURE() << "not refused";
    } catch (const UsageError& e) {
      EXPECT_TRUE(c.usage) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    } catch (const HostError& e) {
      EXPECT_FALSE(c.usage) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(Experiment, TimeScaleIsTheDefaultExperimentsLengthAMillisecondAtLeast) {
  const std::pair<ModelDescription, double> cases[] = {
      {with_default_experiment(0.0, 10.0), 10.0},
      {with_default_experiment({}, 1e7), 1e7},
      {with_default_experiment(5.0, 7.5), 2.5},
      {with_default_experiment(0.0, 1e-5), 1e-3},
      {with_default_experiment(0.0, 0.002), 0.002},
      {with_default_experiment(3.0, 1.0), 1.0},
      {ModelDescription{}, 1.0},
  };
  for (const auto& [model, scale] : cases) EXPECT_EQ(time_scale(model), scale);
}

}  // namespace
