// The standard streams of tavelo-sim. Every line it prints goes through here, which notices a
// write that fails. A console that is a closed pipe (EPIPE) ends the run as a signal does: its
// output has no reader any more. Any other failure (a full disk, /dev/full) lets the run go on;
// at the end a line on the stream that still works says what was lost, and the exit status is
// not 0.
#pragma once

#include <chrono>
#include <string>

// Puts /dev/null on any of the descriptors 0, 1 and 2 that is closed, so that no file the run
// opens (the model's result file) takes its place and receives what is printed. False when it
// cannot.
bool open_standard_streams();

// printf to the standard output (buffered) and to the standard error stream (written at once).
void print_out(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
void print_err(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
// Writes what the standard output holds, before a line on the standard error stream.
void flush_out() noexcept;

// The progress line, on the standard error stream (a terminal): redrawn in its place, and
// wiped before any other output to that stream (the model's and the integrator's messages with
// --log), so that no message is written over it. The standard output (the summary) is written
// once the line is gone.
void print_progress(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
// Wipes the progress line where it is shown.
void clear_progress() noexcept;

// The end of the output: the standard output is written; where output was lost, a line on
// the other stream says so. The exit status: the given one, 1 instead of 0 when output was
// lost.
int finish_console(int status);

// One line on the terminal that shows how far the run is, once it takes longer than a second.
class ProgressLine {
 public:
  // Shown only when enabled and the standard error stream is a terminal.
  ProgressLine(bool enabled, double start, double stop);
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // The run has reached t (a step's end, or an output point inside a long step); the line is
  // redrawn at most ten times a second, over the whole row, within the terminal's width.
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
  // The line's text at t, in at most that many characters.
  std::string text(double t, int columns) const;
  bool enabled_;
  double start_, stop_;
  std::string of_;  // " of 1000000 s": the stop time as the summary writes it
  Time begin_ = now();
  Time last_{};
};
