#include "host/output_grid.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "host/errors.h"
#include "host/options.h"

OutputGrid::OutputGrid(double start, double stop, double interval)
    : stop_(stop), snap_(1e-6 * interval) {
  const std::optional<long long> ms = interval_milliseconds(interval);
  if (!ms) {
    char text[120];
    std::snprintf(text, sizeof text,
                  "the output interval %.17g s is no whole number of milliseconds", interval);
    throw HostError(text);
  }
  // Far enough for any run, near enough that the millisecond counts stay exact. The command
  // line's times are checked as it is read: these come from the model's default experiment.
  if (!(std::fabs(start) <= FarthestTime && std::fabs(stop) <= FarthestTime))
    throw HostError("the start and stop times must lie within 1e9 s of 0 (the output grid "
                    "counts milliseconds)");
  step_ = *ms;
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
