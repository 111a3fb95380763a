// The FMI layer's call of the model entry.
#pragma once

#include <cstdint>

#include "fmi/model_instance.h"

// Calls dsblock_ with the instance's arrays for one demand level and returns its QiErr. After
// a failed call (QiErr nonzero) computedLevel is 0, so the next request evaluates again.
int32_t evaluate_model(ModelInstance& m, int32_t demand);
