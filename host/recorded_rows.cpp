#include "host/recorded_rows.h"

#include <cmath>

#include "host/simulation.h"

long expected_rows(const SimulationSummary& summary) {
  return summary.started ? 1 + summary.pointsWithRows : 0;
}
