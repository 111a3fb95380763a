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
  // The run has reached t; the line is redrawn at most ten times a second.
  void update(double t);
  // Wipes the line, before anything else is printed.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  double start_, stop_;
  Clock::time_point begin_ = Clock::now();
  Clock::time_point last_{};
  bool shown_ = false;
};
