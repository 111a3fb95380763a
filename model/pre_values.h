// The pre values of the model's six discrete friction variables and the saved last solution
// of the friction system. The model entry resets them at every initialisation call.
#pragma once

#include <cstdint>

#include "model/dsblock.h"

constexpr int DiscreteCount = 6;

// [0], [1] the modes of the arm and pendulum bearings; [2]..[5] the four start Booleans.
extern double preValues[DiscreteCount];
extern int32_t preValueFlags[DiscreteCount];  // companion words, cleared with preValues
extern double discreteSave[DiscreteCount];
// [0] pendulumBearingFriction.sa, [1] armBearingFriction.sa as the last pass left them.
extern double saLast[2];
extern double saPrev[2];
extern double saTime;      // time of saLast; -1e33 after an initialisation call begins
extern double saPrevTime;  // time of saPrev; -1e33 after an initialisation call begins

// At initialisation sets the pre values to their initialisation values, at events takes the
// current values over as pre values (logging the changed ones under bit 0x2 of printFlags);
// either way raises changed. Keeps saLast when mode, initial or moveFlag is nonzero (mode 0 at
// the start of the initial section, 2 inside it, 1 at the end of every pass).
void update_discrete_pre_values(const ModelEntryArguments& a, int mode, int initial, int event,
                                int moveFlag);

// Logs "  Variable <name> = <value> at time <time>"; returns 1.0.
double log_variable_change(const char* name, double value, double time);
