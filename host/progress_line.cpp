#include "host/progress_line.h"

#include <time.h>
#include <unistd.h>

#include "host/console.h"

ProgressLine::ProgressLine(bool enabled, double start, double stop)
    : enabled_(enabled && isatty(STDERR_FILENO)), start_(start), stop_(stop) {}

ProgressLine::Time ProgressLine::now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

void ProgressLine::update(double t) {
  if (!enabled_) return;
  const Time time = now();
  if (time - begin_ < std::chrono::seconds(1) || time - last_ < std::chrono::milliseconds(100))
    return;
  last_ = time;
  print_progress("\rtavelo-sim: t = %.3f s of %g s (%3.0f %%)", t, stop_,
                 100.0 * (t - start_) / (stop_ - start_));
}

void ProgressLine::clear() {
  if (enabled_) clear_progress();
}
