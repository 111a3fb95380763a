// One line on the terminal that shows how far the run is, once it takes longer than a second.
#pragma once

#include <chrono>

class ProgressLine {
 public:
  // Shown only when enabled and the standard error stream is a terminal.
  ProgressLine(bool enabled, double start, double stop);
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // The run has reached t (a step's end, or an output point inside a long step); the line is
  // redrawn at most ten times a second.
  void update(double t);
  // Wipes the line, before the summary. (Any other output wipes it first as well.)
  void clear();
  // Whether the line is shown at all: otherwise the run need not report where it is.
  bool enabled() const { return enabled_; }

 private:
  using Time = std::chrono::nanoseconds;
  // A clock good to a few milliseconds, read at every output point: the precise one would cost
  // as much as a point of a model at rest.
  static Time now();
  bool enabled_;
  double start_, stop_;
  Time begin_ = now();
  Time last_{};
};
