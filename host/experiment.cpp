#include "host/experiment.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "host/errors.h"

Experiment resolve_experiment(const GivenExperiment& given, const ModelDescription& d) {
  Experiment e;
  e.start = given.start.value_or(d.defaultStart.value_or(0.0));
  e.stop = given.stop.value_or(d.defaultStop.value_or(e.start + 1.0));
  // Without --start and --stop the times are the FMU's own: a default experiment that ends
  // before it starts is a broken FMU, not a bad command line. With one of them the range is
  // the command line's (with both the command line has checked it).
  if (!given.start && !given.stop) {
    if (const std::string error = time_range_error(e.start, e.stop, TimesFrom::Model);
        !error.empty())
      throw HostError(error);
  } else if (const std::string error =
                 time_range_error(e.start, e.stop, TimesFrom::CommandLineAndModel);
             !error.empty()) {
    throw UsageError(error);
  }
  e.interval = given.interval;
  e.tolerance = given.tolerance.value_or(d.defaultTolerance.value_or(DefaultTolerance));
  if (!given.tolerance && d.defaultTolerance)
    if (const std::string error = tolerance_error(e.tolerance); !error.empty())
      throw HostError("modelDescription.xml: the default experiment's tolerance " + error);
  return e;
}

double time_scale(const ModelDescription& d) {
  constexpr double Millisecond = 1e-3;
  const double length = d.defaultStop ? *d.defaultStop - d.defaultStart.value_or(0.0) : 1.0;
  return length > 0.0 ? std::max(length, Millisecond) : 1.0;
}

OutputGrid::OutputGrid(double start, double stop, Interval interval)
    : stop_(stop), snap_(1e-6 * interval.seconds()), step_(interval.milliseconds()) {
  // The command line's times are checked as it is read: these come from the model's default
  // experiment.
  if (const std::string error = run_times_error(start, stop); !error.empty())
    throw HostError(error);
  // The first multiple after the start (the quotient's rounding is corrected).
  const double startMs = 1000.0 * start;
  first_ = (static_cast<long long>(std::floor(startMs / static_cast<double>(step_))) + 1) * step_;
  while (at(first_ - step_) > start) first_ -= step_;
  while (at(first_) <= start) first_ += step_;
  // A start within the model's 1e-7 s of it has its row already, from the initialisation.
  if (static_cast<double>(first_) - startMs < 1e-4) first_ += step_;
}

double OutputGrid::point(long long k) const {
  const double t = at(first_ + k * step_);
  if (t > stop_ + snap_) return std::numeric_limits<double>::infinity();
  return t >= stop_ - snap_ ? stop_ : t;
}

long long OutputGrid::nearest(double t) const {
  return std::llround((1000.0 * t - static_cast<double>(first_)) / static_cast<double>(step_));
}
