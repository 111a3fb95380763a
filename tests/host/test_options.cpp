// tavelo-sim's command line: the options it takes, the texts it refuses others with, the
// numbers it reads and the interval, times and tolerance it accepts.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "host/options.h"

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
constexpr double UnitRoundoff = 2.220446049250313e-16;

// The shortest text that reads back as x, as a user would copy it.
std::string text(double x) {
  char s[32];
  const auto result = std::to_chars(s, s + sizeof s, x);
  return std::string(s, result.ptr);
}

std::vector<std::pair<std::string, std::string>> pairs(const std::vector<Assignment>& list) {
  std::vector<std::pair<std::string, std::string>> p;
  for (const Assignment& a : list) p.emplace_back(a.name, a.value);
  return p;
}

void expect_options(const Options& got, const Options& want) {
  EXPECT_EQ(got.fmuPath, want.fmuPath);
  EXPECT_EQ(got.start, want.start);
  EXPECT_EQ(got.stop, want.stop);
  EXPECT_EQ(got.interval.milliseconds(), want.interval.milliseconds());
  EXPECT_EQ(got.tolerance, want.tolerance);
  EXPECT_EQ(pairs(got.assignments), pairs(want.assignments));
  EXPECT_EQ(got.resultDirectory, want.resultDirectory);
  EXPECT_EQ(got.log, want.log);
  EXPECT_EQ(got.quiet, want.quiet);
  EXPECT_EQ(got.help, want.help);
  EXPECT_EQ(got.version, want.version);
}

// The options a command line gives: the defaults with what set changes.
struct Accepted {
  const char* what;
  std::vector<std::string> arguments;
  void (*set)(Options&);
};

// The options of the two command lines below that give each option with a value.
void every_value(Options& o) {
  o.fmuPath = "m.fmu";
  o.start = 0.5;
  o.stop = 2.0;
  o.interval = *interval_of(0.002);
  o.tolerance = 1e-4;
  o.assignments = {{"k", "2"}};
  o.resultDirectory = "out";
}

TEST(CommandLine, OptionsAndTheFmu) {
  const Accepted cases[] = {
      {"the FMU alone: the defaults", {"m.fmu"}, [](Options& o) { o.fmuPath = "m.fmu"; }},
      {"--name value, options before the FMU",
       {"--start", "0.5", "--stop", "2", "--interval", "0.002", "--tolerance", "1e-4", "--set",
        "k=2", "--result-dir", "out", "--log", "--quiet", "m.fmu"},
       [](Options& o) {
         every_value(o);
         o.log = o.quiet = true;
       }},
      {"--name=value, options after the FMU",
       {"m.fmu", "--start=0.5", "--stop=2", "--interval=0.002", "--tolerance=1e-4", "--set=k=2",
        "--result-dir=out"},
       every_value},
      {"a value after a space that begins with '-'",
       {"--start", "-1", "--result-dir", "-out", "m.fmu"},
       [](Options& o) {
         o.fmuPath = "m.fmu";
         o.start = -1.0;
         o.resultDirectory = "-out";
       }},
      {"--set repeated, in order; '=' in the value, an empty value",
       {"--set", "k=1", "--set=arm.c=x=y", "--set", "e=", "m.fmu"},
       [](Options& o) {
         o.fmuPath = "m.fmu";
         o.assignments = {{"k", "1"}, {"arm.c", "x=y"}, {"e", ""}};
       }},
      {"-- ends the options", {"--log", "--", "--quiet"},
       [](Options& o) {
         o.fmuPath = "--quiet";
         o.log = true;
       }},
      {"an FMU named like an option with a value after --", {"--", "--stop=1"},
       [](Options& o) { o.fmuPath = "--stop=1"; }},
      {"- is an FMU name", {"--quiet", "-"},
       [](Options& o) {
         o.fmuPath = "-";
         o.quiet = true;
       }},
      {"--help needs no FMU", {"--help"}, [](Options& o) { o.help = true; }},
      {"--version needs no FMU", {"--version"}, [](Options& o) { o.version = true; }},
      // The start then comes from the model's default experiment, checked against it later.
      {"a stop time alone, before 0", {"--stop", "-5", "m.fmu"},
       [](Options& o) {
         o.fmuPath = "m.fmu";
         o.stop = -5.0;
       }},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.what);
    const ParsedOptions parsed = parse_options(c.arguments);
    EXPECT_EQ(parsed.error, "");
    Options expected;
    c.set(expected);
    expect_options(parsed.options, expected);
  }
}

struct Refused {
  const char* what;
  std::vector<std::string> arguments;
  std::string error;
};

TEST(CommandLine, ArgumentsThatDoNotParse) {
  const Refused cases[] = {
      {"nothing", {}, "no FMU given"},
      {"options alone", {"--log", "--stop", "2"}, "no FMU given"},
      {"two FMUs", {"a.fmu", "b.fmu"}, "more than one FMU given: b.fmu"},
      {"an empty name", {""}, "the FMU's name is empty"},
      {"an empty name before the FMU", {"", "m.fmu"}, "the FMU's name is empty"},
      {"an empty name after the FMU", {"m.fmu", ""}, "the FMU's name is empty"},
      {"an empty name after --", {"--", ""}, "the FMU's name is empty"},
      {"an option after -- is a second FMU", {"--", "a.fmu", "--log"},
       "more than one FMU given: --log"},
      {"a flag given a value", {"--log=1", "m.fmu"}, "--log takes no value"},
      {"a flag given an empty value", {"m.fmu", "--quiet="}, "--quiet takes no value"},
      {"an unknown option", {"--verbose", "m.fmu"}, "unknown option --verbose"},
      {"an unknown option with a value", {"--stop-time=2", "m.fmu"},
       "unknown option --stop-time"},
      {"a short option", {"-v", "m.fmu"}, "unknown option -v"},
      {"a value missing at the end", {"m.fmu", "--start"}, "--start needs a value"},
      {"--set missing its value", {"m.fmu", "--set"}, "--set needs a value"},
      {"--set without '='", {"--set", "k", "m.fmu"}, "--set needs NAME=VALUE, not \"k\""},
      {"--set with an empty name", {"--set", "=1", "m.fmu"},
       "--set needs NAME=VALUE, not \"=1\""},
      {"--set= empty", {"--set=", "m.fmu"}, "--set needs NAME=VALUE, not \"\""},
      {"--result-dir empty", {"--result-dir", "", "m.fmu"}, "--result-dir needs a directory"},
      {"--result-dir= empty", {"--result-dir=", "m.fmu"}, "--result-dir needs a directory"},
      {"stop at the start", {"--start", "1", "--stop", "1", "m.fmu"},
       "the stop time must lie after the start time"},
      {"stop before the start", {"--stop", "1", "--start", "2", "m.fmu"},
       "the stop time must lie after the start time"},
  };
  for (const Refused& c : cases) EXPECT_EQ(parse_options(c.arguments).error, c.error) << c.what;
}

// One option's value: the number it gives, or the error text.
struct Value {
  std::string text;
  double number;
  std::string error;  // empty: accepted
};

template <class Field>
void expect_values(const std::string& option, const std::vector<Value>& cases, Field field) {
  for (const Value& c : cases) {
    SCOPED_TRACE(option + " " + c.text);
    const ParsedOptions parsed = parse_options({option, c.text, "m.fmu"});
    EXPECT_EQ(parsed.error, c.error);
    if (c.error.empty() && parsed.error.empty()) {
      EXPECT_EQ(field(parsed.options), c.number);
    }
  }
}

double start_of(const Options& o) { return o.start.value_or(std::nan("")); }
double stop_of(const Options& o) { return o.stop.value_or(std::nan("")); }

TEST(CommandLine, NumbersAreFiniteDoublesInTheCFormatAndNothingElse) {
  const auto refused = [](const std::string& t) {
    return Value{t, 0.0, "--start: \"" + t + "\" is not a finite number"};
  };
  const auto outOfRange = [](const std::string& t) {
    return Value{t, 0.0, "--start: \"" + t + "\" is out of the range of a double"};
  };
  const auto nearZero = [](const std::string& t) {
    return Value{t, 0.0, "--start: \"" + t + "\" is too close to 0 for a double"};
  };
  expect_values("--start",
                {{"1.5", 1.5, ""}, {"+2", 2.0, ""}, {"-2.5e-3", -2.5e-3, ""}, {".5", 0.5, ""},
                 {"1E3", 1000.0, ""}, {"4.9e-324", 4.9e-324, ""},
                 refused(""), refused("1s"), refused("1 "), refused(" 1"), refused("1,5"),
                 refused("0x10"), refused("0x1p3"), refused("inf"), refused("-inf"),
                 refused("nan"), refused("1e"), refused("++1"), refused("+-1"),
                 refused("+"), refused("-"), refused("1e400x"), refused("+-1e400"),
                 // Numbers in the format that no double holds, in magnitude too large or small;
                 // the smallest subnormal's half rounds to 0, a little more to it.
                 outOfRange("1e400"), outOfRange("-1e400"), outOfRange("+1e400"),
                 outOfRange("1.8e308"), nearZero("1e-400"), nearZero("-1e-400"),
                 nearZero("2.4e-324"), {"2.5e-324", 4.9e-324, ""},
                 nearZero("0.0000000000000000000000000000000000000000000000000000000000000000000"
                          "00000000000000000000000000000000000000000000000000000000000000000000"
                          "00000000000000000000000000000000000000000000000000000000000000000000"
                          "00000000000000000000000000000000000000000000000000000000000000000000"
                          "00000000000000000000000000000000000000000000000000000000000000000001"),
                 outOfRange("1" + std::string(400, '0'))},
                start_of);
}

TEST(CommandLine, StartAndStopLieWithin1e9SecondsOf0) {
  const std::string beyond = text(std::nextafter(1e9, Infinity));
  const auto farther = [](const std::string& option, const std::string& t) {
    return Value{t, 0.0,
                 option + ": " + t +
                     " s lies farther than 1e9 s from 0 (the output grid counts milliseconds)"};
  };
  ASSERT_EQ(beyond, "1000000000.0000001");
  expect_values("--start",
                {{"1e9", 1e9, ""}, {"-1e9", -1e9, ""}, farther("--start", beyond),
                 farther("--start", "-" + beyond), farther("--start", "1e10")},
                start_of);
  expect_values("--stop",
                {{"1e9", 1e9, ""}, {"-1e9", -1e9, ""}, farther("--stop", beyond),
                 farther("--stop", "-" + beyond)},
                stop_of);
}

TEST(CommandLine, IntervalIsTakenAsItsWholeNumberOfMilliseconds) {
  const auto noWholeNumber = [](const std::string& t) {
    return Value{t, 0.0,
                 "--interval: " + t + " s is no whole number of milliseconds (the model records "
                                      "its result on the millisecond grid)"};
  };
  const auto longer = [](const std::string& t) {
    return Value{t, 0.0, "--interval: " + t + " s is longer than 1e9 s"};
  };
  const std::string notPositive = "--interval must be greater than 0";
  expect_values(
      "--interval",
      {// 1000 times the interval within a billionth of its size of a whole number: that number.
       {"0.002000000001", 0.002, ""}, {"0.0019999999995", 0.002, ""},
       {"0.0020000000019", 0.002, ""}, noWholeNumber("0.0020000000021"),
       noWholeNumber("0.002000000005"), noWholeNumber("0.0015"),
       {"0.0009999999995", 0.001, ""}, noWholeNumber("0.0009999999985"),
       noWholeNumber("0.0005"), noWholeNumber("1e-300"),
       {"0.3", 0.3, ""},
       // Up to 1e9 s, rounded to the nearest millisecond.
       {"1e9", 1e9, ""}, {text(std::nextafter(1e9, Infinity)), 1e9, ""},
       {"1000000000.0004", 1e9, ""}, longer("1000000000.0006"), longer("1000000000.001"),
       longer("1e300"),
       {"0", 0.0, notPositive}, {"-0", 0.0, notPositive}, {"-0.001", 0.0, notPositive}},
      [](const Options& o) { return o.interval.seconds(); });
}

TEST(CommandLine, ToleranceFromTheUnitRoundoffToBelow1) {
  const std::string below = text(std::nextafter(UnitRoundoff, 0.0));
  const auto tooSmall = [](const std::string& t) {
    return Value{t, 0.0,
                 "--tolerance: " + t + " lies below 2.220446049250313e-16, the smallest the "
                                       "integrator can meet (its unit roundoff)"};
  };
  const auto outside = [](const std::string& t) {
    return Value{t, 0.0, "--tolerance: " + t + " does not lie between 0 and 1"};
  };
  ASSERT_EQ(below, "2.2204460492503128e-16");
  expect_values("--tolerance",
                {{"2.220446049250313e-16", UnitRoundoff, ""}, tooSmall(below),
                 tooSmall("1e-300"), {"1e-6", 1e-6, ""},
                 {text(std::nextafter(1.0, 0.0)), std::nextafter(1.0, 0.0), ""},
                 outside("1"), outside("1.5"), outside("0"), outside("-0.5")},
                [](const Options& o) { return o.tolerance.value_or(std::nan("")); });
}

}  // namespace
