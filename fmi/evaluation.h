// The FMI layer's call of the model entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fmi/model_instance.h"

// Calls dsblock_ with the instance's arrays for one demand level and returns its QiErr. After
// a failed call (QiErr nonzero) computedLevel is 0, so the next request evaluates again.
int32_t evaluate_model(ModelInstance& m, int32_t demand);

// The count a function copies: the host's count, or the instance's when they differ, in which
// case the function's warning "<function>: argument <argument> = N is incorrect, should be M"
// is logged and status becomes fmiWarning.
size_t count_to_copy(ModelInstance* m, const char* function, const char* argument, size_t given,
                     uint32_t expected, fmiStatus& status);
