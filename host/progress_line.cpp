#include "host/progress_line.h"

#include <cstdio>

#include <unistd.h>

ProgressLine::ProgressLine(bool enabled, double start, double stop)
    : enabled_(enabled && isatty(STDERR_FILENO)), start_(start), stop_(stop) {}

void ProgressLine::update(double t) {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (now - begin_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100))
    return;
  last_ = now;
  std::fprintf(stderr, "\rtavelo-sim: t = %.3f s of %g s (%3.0f %%)", t, stop_,
               100.0 * (t - start_) / (stop_ - start_));
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::clear() {
  if (shown_) std::fputs("\r\033[K", stderr);
  shown_ = false;
}
