#include "host/recorded_rows.h"

#include <cmath>

#include "host/simulation.h"

bool in_row_window(double t) {
  return std::fabs(1000.0 * t - std::floor(1000.0 * t + 0.5)) < 1e-4;
}

long expected_rows(const SimulationSummary& summary) {
  return summary.started ? 1 + summary.pointsWithRows : 0;
}
