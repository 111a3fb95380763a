// The host's number rules and texts: the interval's whole milliseconds, the texts of times that
// cannot be simulated and of an empty range, how times are written.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "host/numbers.h"

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

// Intervals that no command line passes through the parser: none of these is one.
TEST(IntervalOf, NothingForNoPositiveFiniteInterval) {
  for (const double seconds : {0.0, -0.0, -0.001, -Infinity, Infinity, std::nan("")})
    EXPECT_FALSE(interval_of(seconds).has_value()) << seconds;
  EXPECT_EQ(interval_of(0.1 * 3)->milliseconds(), 300);
  EXPECT_FALSE(interval_of(0.0015));
  EXPECT_EQ(interval_of(0.002000000001)->milliseconds(), 2);
  EXPECT_EQ(interval_of(1e9)->milliseconds(), 1000000000000);
  EXPECT_EQ(Interval().seconds(), 0.001);
}

struct RangeText {
  double start, stop;
  TimesFrom from;
  const char* text;  // empty: a range to simulate
};

TEST(TimeRange, TheStopTimeLiesAfterTheStartTime) {
  const RangeText cases[] = {
      {0.0, 1.0, TimesFrom::CommandLine, ""},
      {0.0, 5e-324, TimesFrom::Model, ""},
      {1.0, 1.0, TimesFrom::CommandLine, "the stop time must lie after the start time"},
      {2.0, 1.0, TimesFrom::CommandLineAndModel,
       "the stop time 1 s does not lie after the start time 2 s"},
      {1e9, -1e9, TimesFrom::Model,
       "modelDescription.xml: the default experiment's stop time -1e+09 s does not lie after "
       "its start time 1e+09 s"},
  };
  for (const RangeText& c : cases)
    EXPECT_EQ(time_range_error(c.start, c.stop, c.from), c.text) << c.start << " " << c.stop;
}

TEST(TimeLimits, TimesWithin1e9SecondsOf0) {
  const double beyond = std::nextafter(1e9, Infinity);
  EXPECT_EQ(time_error("--stop", "1e9", 1e9), "");
  EXPECT_EQ(time_error("--start", "-1e9", -1e9), "");
  EXPECT_EQ(time_error("--stop", "1000000000.0000001", beyond),
            "--stop: 1000000000.0000001 s lies farther than 1e9 s from 0 (the output grid "
            "counts milliseconds)");
  EXPECT_EQ(run_times_error(-1e9, 1e9), "");
  const std::string farther =
      "the start and stop times must lie within 1e9 s of 0 (the output grid counts "
      "milliseconds)";
  EXPECT_EQ(run_times_error(0.0, beyond), farther);
  EXPECT_EQ(run_times_error(-beyond, 0.0), farther);
}

TEST(TimeTexts, ShortInMessagesToTheLastBitWhereACallFailed) {
  EXPECT_EQ(seconds_text(10.0), "10 s");
  EXPECT_EQ(seconds_text(1e9), "1e+09 s");
  EXPECT_EQ(time_text(0.2), "t = 0.20000000000000001 s");
  EXPECT_EQ(time_text(0.0), "t = 0 s");
  EXPECT_EQ(shortest_text(2.220446049250313e-16), "2.220446049250313e-16");
}

// The summary's times: nine significant digits as %.9g writes them for most runs' times, never
// an exponent.
TEST(TimeTexts, TheSummarysTimesToNineDigitsWithoutAnExponent) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0 s"},
      {10.0, "10 s"},
      {4.855, "4.855 s"},
      {4.85512345678, "4.85512346 s"},
      {0.0003, "0.0003 s"},
      {-21.429, "-21.429 s"},
      {999999990.0, "999999990 s"},
      {1e9, "1000000000 s"},
      {-1e9, "-1000000000 s"},
      {999999999.9, "1000000000 s"},
      {99999999.94, "99999999.9 s"},
      {99999999.96, "100000000 s"},
      {100000.5, "100000.5 s"},
      {1e-5, "0.00001 s"},
      {1e-40, "0.0000000000000000000000000000000000000001 s"},
  };
  for (const auto& [t, text] : cases) EXPECT_EQ(summary_seconds_text(t), text) << t;
}

}  // namespace
