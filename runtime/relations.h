// Relations with hysteresis: the Boolean value of a relation such as "a > b" changes only at
// events, and a hysteresis offset keeps a relation that has just switched from switching back
// on rounding errors. The host sees the crossing function z - hyst.
#pragma once

#include <cstdint>

constexpr int RelationCount = 16;

// Per-relation state, parallel arrays indexed by relation (0-based). Zero at load.
struct RelationHysteresis {
  int32_t value[RelationCount];            // current Boolean value, 0 or 1
  double hyst[RelationCount];              // signed hysteresis offset
  double nominal[RelationCount];           // signed event epsilon of the value just computed
  double z[RelationCount];                 // lhs - rhs of the latest evaluation
  double scale[RelationCount];             // max(1, abs(lhs)) of the latest evaluation
  int32_t evaluatedBefore[RelationCount];  // evaluated in the current event call
};

extern RelationHysteresis relation_hysteresis;

// Machine constants stored at initialisation; nothing reads them.
extern double machineEpsilon;
extern double machineLargest;

// Stores 2^-52 and the largest finite double; returns 0.
int init_machine_constants();

// Decides the new value of one relation at an event or during initialisation, updates its
// offset and signed epsilon, sets *changed when the value changes outside initialisation, and
// logs what changed. direction 0 is "lhs > rhs", 1 is "lhs < rhs". eps = EventEpsilon * scale;
// scaledTolerance = 1e-4 * scale; late is nonzero from the sixth pass of an event iteration.
void event_relation(const char* relationText, const char* differenceText, int32_t* value,
                    double* hyst, double* nominal, double eps, double z, int initial,
                    int printFlags, int32_t* changed, int direction, int negate, int evaluated,
                    double scaledTolerance, int late);
