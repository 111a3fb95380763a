// The output grid. The model records a row at each completed step within 1e-7 s of a whole
// millisecond. The output points are the whole multiples of the interval (itself a whole number
// of milliseconds) after the start time, up to the stop time; each is its count of milliseconds
// divided by 1000, the double nearest to that millisecond.
#pragma once

class OutputGrid {
 public:
  // Throws HostError for an interval that is no whole number of milliseconds, or times farther
  // than 1e9 s from 0.
  OutputGrid(double start, double stop, double interval);

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
