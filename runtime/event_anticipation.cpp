#include "runtime/event_anticipation.h"

#include <cmath>
#include <cstring>

#include "runtime/runtime_state.h"

EventAnticipationState eventAnticipation;
CrossingHistory crossingHistory;

namespace {

constexpr double Never = 1e30;
// A linear estimate is pushed 0.2 steps and a quadratic one 0.04 steps past the crossing, so
// the states land just beyond it (the double values of 1.2 - 1 and 1.04 - 1).
constexpr double LinearMargin = 0.19999999999999996;
constexpr double QuadraticMargin = 0.040000000000000036;
// The window of the two scaled steps ends just before the grid points.
constexpr double WindowStartSteps = 0.9999999999;
constexpr double WindowEndSteps = 1.9999999999;

void reset(double t) {
  eventAnticipation = EventAnticipationState{
      .step = 0.0,
      .lastEventTime = Never,
      .lastCallTime = -Never,
      .callTimeBefore = t,
      .stepStart = t,
      .stepRatio = 1.0,
      .prevStepRatio = 1.0,
      .factor1 = 1.0,
      .factor2 = 1.0,
      .windowStart = -Never,
      .windowEnd = -Never,
  };
  // A new run does not extrapolate from the crossings of an earlier one.
  crossingHistory = CrossingHistory{};
}

bool evaluated(int i) { return relation_hysteresis.evaluatedBefore[i / 2] != 0; }

// Whether a moved towards zero against b, seen from the sign of h1.
bool towards_zero(double h1, double a, double b) { return h1 > 0.0 ? a < b : a > b; }

// The predicted crossing of indicator i in steps from now; outside (0, 2) when none.
double crossing_estimate(int i, double z, const double* crossings) {
  const EventAnticipationState& s = eventAnticipation;
  const double h1 = crossingHistory.H1[i];
  const double h2 = crossingHistory.H2[i];
  const double h3 = crossingHistory.H3[i];
  const double d = (z - h1) / s.stepRatio;  // change per step
  // Candidate: the linear extrapolation changes sign within 2.4 steps, the relation was
  // evaluated and its two indicators agree in sign.
  const int k = i / 2;
  if (!(z * (z + 2.0 * (1.2 * d)) < 0.0) || !evaluated(i) ||
      !(crossings[2 * k] * crossings[2 * k + 1] > 0.0))
    return 0.0;
  double estimate = -z / d + LinearMargin;
  if (s.callTimeBefore > -Never && towards_zero(h1, h1, h2)) {
    const double r1 = s.stepRatio;
    const double r0 = s.prevStepRatio;
    const double sigma = r1 + r0;
    const double D = r1 * sigma * r0;
    const double a = (sigma * sigma * (h1 - z) - r1 * r1 * (h2 - z)) / D;
    const double b = (-sigma * (h1 - z) + r1 * (h2 - z)) / D;
    const double c = 4.0 * z * b;
    const double m = towards_zero(h1, h2, h3) ? 0.4 : 0.7;
    const double disc = c > 0.0 ? a * a - (1.0 + m) * c : a * a - (1.0 - m) * c;
    if (disc >= 0.0) {
      const double root = std::sqrt(disc);
      const double g = a > 0.0 ? 1.0 : -1.0;
      const double quadratic = -(2.0 * z / (-a - g * root)) + QuadraticMargin;
      if (-0.5 < quadratic && quadratic < 2.5) estimate = quadratic;
    }
  }
  return estimate;
}

}  // namespace

void anticipate_events(double time, int initial, int event, const double* crossings, int nrel,
                       double* derivatives, int nder) {
  EventAnticipationState& s = eventAnticipation;
  const double t = time;
  // Never beyond the relation arrays.
  const int n = 2 * (nrel < 0 ? 0 : (nrel > RelationCount ? RelationCount : nrel));

  if (initial) reset(t);
  if (s.step == 0.0 && s.lastEventTime < t) s.step = t - s.lastEventTime;
  const double h = s.step;
  if (event) s.lastEventTime = t;

  if (s.lastCallTime < t) {
    s.callTimeBefore = s.lastCallTime;
    s.prevStepRatio = s.stepRatio;
    if (h != 0.0) {
      const double x = (s.windowStart <= t && t < s.windowEnd) ? s.windowStart : t;
      s.stepRatio = (x - s.stepStart) / h;
    }
    std::memcpy(crossingHistory.H3, crossingHistory.H2, sizeof crossingHistory.H3);
    std::memcpy(crossingHistory.H2, crossingHistory.H1, sizeof crossingHistory.H2);
    std::memcpy(crossingHistory.H1, crossingHistory.H0, sizeof crossingHistory.H1);
  }
  for (int i = 0; i < n; ++i) crossingHistory.H0[i] = evaluated(i) ? crossings[i] : 0.0;

  if (h != 0.0 && t >= s.windowEnd) {
    double f = 0.0;
    const double q = (modelRuntime.nextTimeEvent - t) / h;
    if (0.0 < q && q < 2.0) f = q;
    for (int i = 0; i < n; ++i) {
      const double estimate = crossing_estimate(i, crossings[i], crossings);
      if (0.0 < estimate && estimate < 2.0 && estimate > f) f = estimate;  // the largest wins
    }
    s.factor1 = f;
    if (f != 0.0 && f < 1.0) {
      s.factor2 = 2.0 - f;
      s.windowStart = t + WindowStartSteps * h;
      s.windowEnd = t + WindowEndSteps * h;
    } else {
      s.factor2 = 1.0;
      s.windowStart = t;
      s.windowEnd = t;
    }
  }

  s.lastCallTime = t;
  s.stepStart = t;
  if (t < s.windowStart) {
    for (int k = 0; k < nder; ++k) derivatives[k] *= s.factor1;
  } else if (t < s.windowEnd) {
    for (int k = 0; k < nder; ++k) derivatives[k] *= s.factor2;
    s.stepStart = s.windowStart;
  }
}
