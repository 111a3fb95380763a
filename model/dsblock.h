// The model entry: evaluates the model for a demand level, with the event iteration at
// initialisation and events. The outcome is in *QiErr (0 success).
#pragma once

#include <cstdint>

int dsblock_(int32_t* demand, int32_t* computedLevel, double* time, double* states, void* slot5,
             double* inputs, double* parameters, void* slot8, void* slot9, double* derivatives,
             double* outputs, double* auxiliaries, double* eventIndicators, void* slot14,
             void* slot15, void* slot16, int32_t* QiErr);
