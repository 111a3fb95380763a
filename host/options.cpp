#include "host/options.h"

#include <charconv>
#include <cmath>

const char usageText[] =
    "usage: tavelo-sim [options] MODEL.fmu\n"
    "\n"
    "Simulates an FMI 1.0 Model Exchange FMU with CVODE (BDF, dense Newton) and leaves the\n"
    "result the model writes (for Tavelo: \"dsres.mat\") in the result directory.\n"
    "\n"
    "options:\n"
    "  --start T            start time in s (default: the model's default experiment, else 0)\n"
    "  --stop T             stop time in s (default: the model's default experiment, else 1)\n"
    "  --interval H         output interval in s, a whole number of milliseconds\n"
    "                       (default 0.001)\n"
    "  --tolerance TOL      relative tolerance of the integrator (default 1e-06)\n"
    "  --set NAME=VALUE     set a parameter or a start value before initialisation;\n"
    "                       may be repeated\n"
    "  --result-dir DIR     run in DIR, where the model writes its result (default: here)\n"
    "  --log                debug logging: every message of the model, with its status\n"
    "  --quiet              no summary and no progress line\n"
    "  --help               this text\n"
    "  --version            the version of tavelo-sim\n";

std::optional<double> parse_real(const std::string& text) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  // A leading '+' is accepted as in the command lines users write; from_chars takes none.
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<long long> interval_milliseconds(double seconds) {
  // 1000·seconds is within a few units of the last place of the exact product: a billionth
  // takes every way of writing a whole millisecond count and nothing a millisecond apart.
  constexpr double MostMilliseconds = 1e12;
  const double ms = 1000.0 * seconds;
  if (!(ms >= 0.5 && ms <= MostMilliseconds + 0.5)) return std::nullopt;
  const double whole = std::nearbyint(ms);
  if (std::fabs(ms - whole) > 1e-9 * whole) return std::nullopt;
  return static_cast<long long>(whole);
}

namespace {

// The value of an option: "--name=value" or "--name value".
struct OptionValue {
  bool present = false;
  std::string value;
};

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  auto fail = [&](const std::string& message) {
    parsed.error = message;
    return parsed;
  };
  bool endOfOptions = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (endOfOptions || argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
      if (argument.size() > 1 && argument[0] == '-' && !endOfOptions)
        return fail("unknown option " + argument);
      if (!o.fmuPath.empty()) return fail("more than one FMU given: " + argument);
      o.fmuPath = argument;
      continue;
    }
    if (argument == "--") {
      endOfOptions = true;
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    auto take_value = [&]() -> OptionValue {
      if (equals != std::string::npos) return {true, argument.substr(equals + 1)};
      if (i + 1 < arguments.size()) return {true, arguments[++i]};
      return {};
    };
    auto flag = [&](bool& target) {
      if (equals != std::string::npos) return false;
      target = true;
      return true;
    };
    if (name == "--log" || name == "--quiet" || name == "--help" || name == "--version") {
      bool& target = name == "--log" ? o.log : name == "--quiet" ? o.quiet
                   : name == "--help" ? o.help : o.version;
      if (!flag(target)) return fail(name + " takes no value");
      continue;
    }
    if (name != "--start" && name != "--stop" && name != "--interval" && name != "--tolerance" &&
        name != "--set" && name != "--result-dir")
      return fail("unknown option " + name);
    const OptionValue value = take_value();
    if (!value.present) return fail(name + " needs a value");
    if (name == "--set") {
      const size_t at = value.value.find('=');
      if (at == std::string::npos || at == 0)
        return fail("--set needs NAME=VALUE, not \"" + value.value + "\"");
      o.assignments.push_back({value.value.substr(0, at), value.value.substr(at + 1)});
      continue;
    }
    if (name == "--result-dir") {
      if (value.value.empty()) return fail("--result-dir needs a directory");
      o.resultDirectory = value.value;
      continue;
    }
    const std::optional<double> number = parse_real(value.value);
    if (!number) return fail(name + ": \"" + value.value + "\" is not a finite number");
    if ((name == "--start" || name == "--stop") && !(std::fabs(*number) <= FarthestTime))
      return fail(name + ": " + value.value + " s lies farther than 1e9 s from 0 (the output "
                  "grid counts milliseconds)");
    if (name == "--start") o.start = *number;
    if (name == "--stop") o.stop = *number;
    if (name == "--interval") {
      if (*number <= 0.0) return fail("--interval must be greater than 0");
      const std::optional<long long> ms = interval_milliseconds(*number);
      if (!ms)
        return fail("--interval: " + value.value + " s is " +
                    (*number > 1e9 ? std::string("longer than 1e9 s")
                                   : "no whole number of milliseconds (the model records its "
                                     "result on the millisecond grid)"));
      o.interval = static_cast<double>(*ms) / 1000.0;
    }
    if (name == "--tolerance") {
      if (*number <= 0.0 || *number >= 1.0) return fail("--tolerance must lie between 0 and 1");
      o.tolerance = *number;
    }
  }
  if (o.help || o.version) return parsed;
  if (o.fmuPath.empty()) return fail("no FMU given");
  if (o.start && o.stop && !(*o.stop > *o.start))
    return fail("the stop time must lie after the start time");
  return parsed;
}
