// Fixed-step event anticipation: under a fixed-step integrator (modelRuntime.fixedStepMode),
// the crossing functions are extrapolated from a short history; when a sign change or a time
// event is predicted within the next step, that step's derivatives are scaled by f < 1 and
// the following step's by 2 - f, so the states land just past the event and are back on the
// step grid two steps later.
#pragma once

#include "runtime/relations.h"

struct EventAnticipationState {
  double step = 0.0;            // the fixed step h, measured once after a reset
  double lastEventTime = 0.0;   // time of the latest event call
  double lastCallTime = 0.0;    // time of the previous call
  double callTimeBefore = 0.0;  // lastCallTime as it was when the latest step began
  double stepStart = 0.0;       // start of the current step
  double stepRatio = 0.0;       // length of the latest step in units of h
  double prevStepRatio = 0.0;   // length of the step before it in units of h
  double factor1 = 0.0;         // derivative factor of the shortened step (f)
  double factor2 = 0.0;         // derivative factor of the lengthened step (2 - f)
  double windowStart = 0.0;     // from here factor2 applies
  double windowEnd = 0.0;       // from here no factor applies
};

extern EventAnticipationState eventAnticipation;

// The crossing values of the latest call (H0) and of one, two and three steps back; two per
// relation. Cleared by the reset of every initialisation.
constexpr int CrossingHistoryLength = 2 * RelationCount;
struct CrossingHistory {
  double H0[CrossingHistoryLength];
  double H1[CrossingHistoryLength];
  double H2[CrossingHistoryLength];
  double H3[CrossingHistoryLength];
};

extern CrossingHistory crossingHistory;

// One look ahead, at the end of a settled dsblock_ call: initial nonzero resets the state;
// crossings holds 2 * nrel event indicators; the first nder derivatives are scaled in place
// (nder is 0 when only the books are kept).
void anticipate_events(double time, int initial, int event, const double* crossings, int nrel,
                       double* derivatives, int nder);
