#include "runtime/relations.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "runtime/clocale.h"
#include "runtime/output.h"
#include "runtime/runtime_state.h"

RelationHysteresis relation_hysteresis;

double machineEpsilon = 0.0;
double machineLargest = 0.0;

int init_machine_constants() {
  machineEpsilon = DBL_EPSILON;
  machineLargest = DBL_MAX;
  return 0;
}

void event_relation(const char* relationText, const char* differenceText, int32_t* value,
                    double* hyst, double* nominal, double eps, double z, int initial,
                    int printFlags, int32_t* changed, int direction, int negate, int evaluated,
                    double scaledTolerance, int late) {
  const double d = evaluated ? z - *hyst : z;
  const int r = direction == 0 ? (d > 0) : (d < 0);
  // The offset lies on the far side of zero from d.
  const double s = (r != direction) ? -1.0 : 1.0;
  *nominal = s * eps;
  const int v = negate ? !r : r;
  const double az = std::fabs(z);

  if (v == *value && !initial) {
    if (!evaluated) {
      if (az < eps)
        *hyst = s * eps;
      else if (az > scaledTolerance && az > 100 * eps)
        *hyst = s * eps * 1e-6;
    }
    *value = v;
    return;
  }

  const bool valueChanged = v != *value;
  if (valueChanged && !initial) *changed = 1;

  char line[1000];
  if (!evaluated) {
    *hyst = az < 100 * eps ? s * eps : s * eps * 1e-6;
  } else if (az < scaledTolerance && late) {
    // Switching again close to the switching point late in the iteration: widen the offset.
    const double m = std::max(eps, std::min(scaledTolerance, 10 * std::fabs(*hyst)));
    if (m > eps && (printFlags & PrintFlagEvents)) {
      clocale_snprintf(line, sizeof line, "Warning: Event epsilon of %.400s increased to %g.\n",
                       relationText, m);
      log_message_line(line);
    }
    *hyst = s * m;
  } else {
    *hyst = s * std::max(std::fabs(*hyst), eps);
  }

  if ((printFlags & PrintFlagEvents) &&
      (!initial || ((printFlags & PrintFlagInitRelations) && (!evaluated || valueChanged)))) {
    clocale_snprintf(line, sizeof line, "Expression %.400s became %s ( %.400s = %g )",
                     relationText, v ? "true" : "false", differenceText, z);
    log_message_line(line);
  }
  *value = v;
}
