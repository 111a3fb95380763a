// The host's rules for numbers: how a real number is read, the limits of times, output
// intervals and tolerances, and how times are written in messages. Everything that reads or
// checks such a number (the command line, the model description, the experiment, the output
// grid) takes the rule from here.
#pragma once

#include <limits>
#include <optional>
#include <string>

// A finite double in the "C" format, the whole text; nothing when the text is not one. A
// leading '+' is taken, as in the command lines users write, but no sign after it ("+-1").
std::optional<double> parse_real(const std::string& text);
// Why parse_real refuses the text: "out of the range of a double" for a number too large for one
// ("1e400", "-1e400"), "too close to 0 for a double" for one that only rounds to 0 ("1e-400"),
// otherwise (the caller's "no Real value") for any other text.
std::string no_real_reason(const std::string& text, const std::string& otherwise);

// Start and stop times lie within this many seconds of 0: the output grid counts milliseconds,
// exactly, as doubles. The command line checks its own times as it reads them; the output grid
// checks a run's times (those of the model's default experiment) with the same rule.
constexpr double FarthestTime = 1e9;
inline bool within_time_range(double t) { return t >= -FarthestTime && t <= FarthestTime; }
// Why the option's time (text, as given) cannot be simulated; empty where it can.
std::string time_error(const std::string& option, const std::string& text, double t);
// Why a run from start to stop cannot be simulated; empty where it can.
std::string run_times_error(double start, double stop);

// Where a run's start and stop times come from, for the text of a range that is empty.
enum class TimesFrom { CommandLine, CommandLineAndModel, Model };
// Why a run cannot go from start to stop (its stop time must lie after its start time); empty
// where it can.
std::string time_range_error(double start, double stop, TimesFrom from);

// An output interval: a whole number of milliseconds (the grid on which the model records its
// result), from 1 ms to LongestInterval. interval_of makes one.
class Interval {
 public:
  Interval() = default;  // 1 ms
  long long milliseconds() const { return milliseconds_; }
  double seconds() const { return static_cast<double>(milliseconds_) / 1000.0; }

 private:
  friend std::optional<Interval> interval_of(double seconds);
  explicit Interval(long long milliseconds) : milliseconds_(milliseconds) {}
  long long milliseconds_ = 1;
};
constexpr double LongestInterval = 1e9;
// The interval of that many seconds: 1000 times it lies within a billionth (relative) of a
// whole number from 1 to 1000·LongestInterval. Nothing for any other interval.
std::optional<Interval> interval_of(double seconds);
// Why the option's interval (text, as given) is none; empty where it is one.
std::string interval_error(const std::string& option, const std::string& text, double seconds);

// The relative tolerance of a run whose options and model description give none.
constexpr double DefaultTolerance = 1e-6;
// The smallest relative tolerance the integrator can meet at every state: its unit roundoff.
constexpr double SmallestTolerance = std::numeric_limits<double>::epsilon();
// Whether the integrator can meet a relative tolerance: from SmallestTolerance up to below 1.
// An error text that begins with the tolerance, empty where it can.
std::string tolerance_error(double tolerance);

// The shortest text that reads back as the same double: "2.220446049250313e-16".
std::string shortest_text(double x);
// A time as short as "%g" writes it: "10 s", "1e+09 s".
std::string seconds_text(double t);
// A time of the run's summary, its start, end and stop time alike, to nine significant digits
// and without an exponent: "999999990 s", "4.85512346 s", "1000000000 s", "0.0003 s".
std::string summary_seconds_text(double t);
// A time to the last bit, where a call of the model failed or warned: "t = 0.20000000000000001 s".
std::string time_text(double t);
