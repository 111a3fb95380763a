// The experiment a run simulates: its start and stop time, output interval and tolerance, as
// the command line gives them, else as the model's default experiment does; the model's time
// scale; and the output grid on which the model records its rows.
#pragma once

#include <optional>

#include "host/model_description.h"
#include "host/numbers.h"

struct Experiment {
  double start = 0.0;
  double stop = 1.0;
  Interval interval;  // 1 ms
  double tolerance = DefaultTolerance;
};

// What the command line gives; unset: the model's default experiment's, else 0 and 1 s later,
// and DefaultTolerance. The command line's own values are checked as it is read. Throws
// UsageError for a time of the command line that makes no range with the model's, HostError
// for a default experiment that is broken (a stop time before its start time, a tolerance the
// integrator cannot meet; its times farther than 1e9 s from 0 the output grid refuses).
struct GivenExperiment {
  std::optional<double> start;
  std::optional<double> stop;
  Interval interval;
  std::optional<double> tolerance;
};
Experiment resolve_experiment(const GivenExperiment& given, const ModelDescription& d);

// The model's time scale: the length of its default experiment, else of the host's default
// run (1 s); never below the grid's millisecond, so that the first step and the output margin,
// a thousandth of it, stay at 1e-6 s at least, ten times the library's window of a row.
double time_scale(const ModelDescription& d);

// The output grid. The model records a row at each completed step within 1e-7 s of a whole
// millisecond. The output points are the whole multiples of the interval after the start time,
// up to the stop time; each is its count of milliseconds divided by 1000, the double nearest to
// that millisecond.
class OutputGrid {
 public:
  // Throws HostError for times farther than 1e9 s from 0.
  OutputGrid(double start, double stop, Interval interval);

  // The k-th point (k >= 0); a point within a millionth of an interval of the stop time is the
  // stop time, a later one lies past the run (infinity).
  double point(long long k) const;

  // The index of the point nearest to t (negative before the first).
  long long nearest(double t) const;

 private:
  static double at(long long milliseconds) { return static_cast<double>(milliseconds) / 1000.0; }

  double stop_;
  double snap_;
  long long step_ = 1;   // the interval in ms
  long long first_ = 0;  // the first point in ms
};
