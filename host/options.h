// The command line of tavelo-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/assignments.h"
#include "host/numbers.h"

struct Options {
  std::string fmuPath;
  // Unset: the model description's default experiment (else 0 and 1 s).
  std::optional<double> start;
  std::optional<double> stop;
  Interval interval;  // 1 ms
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

extern const char usageText[];
