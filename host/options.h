// The command line of tavelo-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One --set name=value, as given.
struct Assignment {
  std::string name;
  std::string value;
};

struct Options {
  std::string fmuPath;
  // Unset: the model description's default experiment (else 0 and 1 s).
  std::optional<double> start;
  std::optional<double> stop;
  double interval = 1e-3;
  // Unset: the model description's default experiment (else DefaultTolerance).
  std::optional<double> tolerance;
  std::vector<Assignment> assignments;
  std::string resultDirectory;  // empty: the current directory
  bool log = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// The options, or an error text (one line, no "tavelo-sim:" prefix) for a command line that
// does not parse. --help and --version need no FMU.
struct ParsedOptions {
  Options options;
  std::string error;
};
ParsedOptions parse_options(const std::vector<std::string>& arguments);

// An output interval as its whole number of milliseconds (the grid on which the model records
// its result): the interval in s times 1000 lies within a billionth (relative) of a whole
// number from 1 to 1e12 (1e9 s). Nothing for any other interval.
std::optional<long long> interval_milliseconds(double seconds);

// The relative tolerance of a run whose options and model description give none.
constexpr double DefaultTolerance = 1e-6;

// Whether the integrator can meet a relative tolerance: from its unit roundoff up to below 1.
// An error text that begins with the tolerance, empty where it can.
std::string tolerance_error(double tolerance);

// Start and stop times lie within this many seconds of 0: the output grid counts milliseconds,
// exactly, as doubles.
constexpr double FarthestTime = 1e9;

// A finite double in the "C" format, the whole text; nothing when the text is not one.
std::optional<double> parse_real(const std::string& text);

extern const char usageText[];
