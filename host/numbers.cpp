#include "host/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <locale.h>
#include <stdlib.h>

namespace {

// The text as from_chars reads a double, after a leading '+', which from_chars does not take; a
// sign after that '+' ("+-1") reads as no number.
std::from_chars_result read_real(const std::string& text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return {first, std::errc::invalid_argument};
  }
  return std::from_chars(first, last, value);
}

}  // namespace

std::optional<double> parse_real(const std::string& text) {
  double value = 0.0;
  const auto result = read_real(text, value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string time_error(const std::string& option, const std::string& text, double t) {
  if (within_time_range(t)) return {};
  return option + ": " + text + " s lies farther than 1e9 s from 0 (the output grid counts "
         "milliseconds)";
}

std::string run_times_error(double start, double stop) {
  if (within_time_range(start) && within_time_range(stop)) return {};
  return "the start and stop times must lie within 1e9 s of 0 (the output grid counts "
         "milliseconds)";
}

std::string no_real_reason(const std::string& text, const std::string& otherwise) {
  double value = 0.0;
  const auto result = read_real(text, value);
  if (result.ec != std::errc::result_out_of_range || result.ptr != text.data() + text.size())
    return otherwise;
  // from_chars says only that it is out of range; strtod tells which way (infinity or zero).
  static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  const char* first = text.c_str() + (text[0] == '+' ? 1 : 0);
  const bool large = c != nullptr && std::fabs(strtod_l(first, nullptr, c)) >= 1.0;
  return large ? "out of the range of a double" : "too close to 0 for a double";
}

std::string time_range_error(double start, double stop, TimesFrom from) {
  if (stop > start) return {};
  switch (from) {
    case TimesFrom::CommandLine:
      return "the stop time must lie after the start time";
    case TimesFrom::CommandLineAndModel:
      return "the stop time " + seconds_text(stop) + " does not lie after the start time " +
             seconds_text(start);
    case TimesFrom::Model:
      break;
  }
  return "modelDescription.xml: the default experiment's stop time " + seconds_text(stop) +
         " does not lie after its start time " + seconds_text(start);
}

std::optional<Interval> interval_of(double seconds) {
  // 1000·seconds is within a few units of the last place of the exact product: a billionth
  // takes every way of writing a whole millisecond count and nothing a millisecond apart.
  constexpr double MostMilliseconds = 1000.0 * LongestInterval;
  const double ms = 1000.0 * seconds;
  if (!(ms >= 0.5 && ms <= MostMilliseconds + 0.5)) return std::nullopt;
  const double whole = std::nearbyint(ms);
  if (std::fabs(ms - whole) > 1e-9 * whole) return std::nullopt;
  return Interval(static_cast<long long>(whole));
}

std::string interval_error(const std::string& option, const std::string& text, double seconds) {
  if (!(seconds > 0.0)) return option + " must be greater than 0";
  if (interval_of(seconds)) return {};
  return option + ": " + text + " s is " +
         (seconds > LongestInterval ? std::string("longer than 1e9 s")
                                    : "no whole number of milliseconds (the model records its "
                                      "result on the millisecond grid)");
}

std::string tolerance_error(double tolerance) {
  if (!(tolerance > 0.0 && tolerance < 1.0))
    return shortest_text(tolerance) + " does not lie between 0 and 1";
  if (tolerance >= SmallestTolerance) return {};
  return shortest_text(tolerance) + " lies below " + shortest_text(SmallestTolerance) +
         ", the smallest the integrator can meet (its unit roundoff)";
}

std::string shortest_text(double x) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

std::string seconds_text(double t) {
  char text[40];
  std::snprintf(text, sizeof text, "%g s", t);
  return text;
}

std::string summary_seconds_text(double t) {
  // The digits before the point, the rest after it, trailing zeros cut: what %.9g writes for
  // the times of most runs, without its exponent for the others.
  const int whole = t == 0.0 ? 1 : 1 + static_cast<int>(std::floor(std::log10(std::fabs(t))));
  // Nine digits of the smallest subnormal lie 332 places after the point.
  const int decimals = std::clamp(9 - whole, 0, 340);
  char text[400];
  int length = std::snprintf(text, sizeof text, "%.*f", decimals, t);
  if (decimals > 0) {
    while (text[length - 1] == '0') --length;
    if (text[length - 1] == '.') --length;
  }
  text[length] = '\0';
  if (std::strcmp(text, "-0") == 0) return "0 s";
  return std::string(text) + " s";
}

std::string time_text(double t) {
  char text[64];
  std::snprintf(text, sizeof text, "t = %.17g s", t);
  return text;
}
