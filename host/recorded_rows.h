// The rows a run leaves in "dsres.mat" at the least. The library records one at the
// initialisation and one at each completed step that ends within 1e-7 s of a whole millisecond
// (later than its last); the host completes a step at every output point. Events and other
// steps in such a window add rows, never fewer.
#pragma once

#include <cmath>

struct SimulationSummary;

// Whether a step completed at t lies in the library's window of a whole millisecond (a point
// of the grid far from 0, or a stop time snapped to a point, can lie outside it). Asked at
// every output point: inline.
inline bool in_row_window(double t) {
  return std::fabs(1000.0 * t - std::floor(1000.0 * t + 0.5)) < 1e-4;
}

// The start's row and one per output point in the window, for a run that instantiated the
// model; 0 for one interrupted before.
long expected_rows(const SimulationSummary& summary);
