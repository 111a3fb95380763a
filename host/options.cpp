#include "host/options.h"

#include <optional>

const char usageText[] =
    "usage: tavelo-sim [options] MODEL.fmu\n"
    "\n"
    "Simulates an FMI 1.0 Model Exchange FMU with CVODE (BDF, dense Newton) and leaves the\n"
    "result the model writes (for Tavelo: \"dsres.mat\") in the result directory.\n"
    "\n"
    "options:\n"
    "  --start T            start time in s (default: the model's default experiment, else 0)\n"
    "  --stop T             stop time in s (default: the model's default experiment, else\n"
    "                       1 s after the start)\n"
    "  --interval H         output interval in s, a whole number of milliseconds\n"
    "                       (default 0.001)\n"
    "  --tolerance TOL      relative tolerance of the integrator,\n"
    "                       2.220446049250313e-16 <= TOL < 1\n"
    "                       (default: the model's default experiment, else 1e-06)\n"
    "  --set NAME=VALUE     set a parameter or a start value before initialisation;\n"
    "                       may be repeated\n"
    "  --result-dir DIR     run in DIR, where the model writes its result (default: here)\n"
    "  --log                every message of the model and of CVODE as it comes\n"
    "  --quiet              no summary and no progress line\n"
    "  --help               this text\n"
    "  --version            the version of tavelo-sim\n"
    "\n"
    "The manual, doc/tavelo-sim.md in Tavelo's sources, tells the rest: the output grid and\n"
    "the rows, the result file and its folder, signals and streams, the model's messages,\n"
    "limits, exit statuses.\n";

namespace {

bool is_flag(const std::string& name) {
  return name == "--log" || name == "--quiet" || name == "--help" || name == "--version";
}

bool takes_value(const std::string& name) {
  return name == "--start" || name == "--stop" || name == "--interval" || name == "--tolerance" ||
         name == "--set" || name == "--result-dir";
}

void set_flag(const std::string& name, Options& o) {
  bool& target = name == "--log" ? o.log : name == "--quiet" ? o.quiet
               : name == "--help" ? o.help : o.version;
  target = true;
}

// A time, the output interval or the tolerance; an error text, empty when the value is right.
std::string set_number(const std::string& name, const std::string& value, Options& o) {
  const std::optional<double> number = parse_real(value);
  if (!number)
    return name + ": \"" + value + "\" is " +
           no_real_reason(value, "not a finite number");
  if (name == "--start" || name == "--stop")
    if (const std::string error = time_error(name, value, *number); !error.empty()) return error;
  if (name == "--start") o.start = *number;
  if (name == "--stop") o.stop = *number;
  if (name == "--interval") {
    if (const std::string error = interval_error(name, value, *number); !error.empty())
      return error;
    o.interval = *interval_of(*number);
  }
  if (name == "--tolerance") {
    if (const std::string error = tolerance_error(*number); !error.empty())
      return "--tolerance: " + error;
    o.tolerance = *number;
  }
  return {};
}

// An option with its value; an error text, empty when the value is right.
std::string set_option(const std::string& name, const std::string& value, Options& o) {
  if (name == "--set") {
    const size_t at = value.find('=');
    if (at == std::string::npos || at == 0)
      return "--set needs NAME=VALUE, not \"" + value + "\"";
    o.assignments.push_back({value.substr(0, at), value.substr(at + 1)});
    return {};
  }
  if (name == "--result-dir") {
    if (value.empty()) return "--result-dir needs a directory";
    o.resultDirectory = value;
    return {};
  }
  return set_number(name, value, o);
}

// The FMU, an argument that is no option; an error text, empty when it is right. An empty
// name is refused where it stands: the path would read as no FMU given, or give way to the
// next one.
std::string set_fmu(const std::string& argument, bool endOfOptions, Options& o) {
  if (argument.size() > 1 && argument[0] == '-' && !endOfOptions)
    return "unknown option " + argument;
  if (argument.empty()) return "the FMU's name is empty";
  if (!o.fmuPath.empty()) return "more than one FMU given: " + argument;
  o.fmuPath = argument;
  return {};
}

// One argument, with the next one as an option's value ("--name value"; also "--name=value");
// an error text, empty when it is right.
std::string parse_argument(const std::vector<std::string>& arguments, size_t& i,
                           bool& endOfOptions, Options& o) {
  const std::string& argument = arguments[i];
  if (endOfOptions || argument.size() < 2 || argument.compare(0, 2, "--") != 0)
    return set_fmu(argument, endOfOptions, o);
  if (argument == "--") {
    endOfOptions = true;
    return {};
  }
  const size_t equals = argument.find('=');
  const std::string name = argument.substr(0, equals);
  if (is_flag(name)) {
    if (equals != std::string::npos) return name + " takes no value";
    set_flag(name, o);
    return {};
  }
  if (!takes_value(name)) return "unknown option " + name;
  if (equals != std::string::npos) return set_option(name, argument.substr(equals + 1), o);
  if (i + 1 < arguments.size()) return set_option(name, arguments[++i], o);
  return name + " needs a value";
}

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  bool endOfOptions = false;
  for (size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i)
    parsed.error = parse_argument(arguments, i, endOfOptions, o);
  if (!parsed.error.empty() || o.help || o.version) return parsed;
  if (o.fmuPath.empty())
    parsed.error = "no FMU given";
  else if (o.start && o.stop)
    parsed.error = time_range_error(*o.start, *o.stop, TimesFrom::CommandLine);
  return parsed;
}
