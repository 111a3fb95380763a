// Temporary: the fixed-step switch belongs to the event anticipation, which has not landed yet.
// Weak, so the real definition wins once it is there; delete this file then.
#include "runtime/linsys.h"

__attribute__((weak)) int fixedStepMode = 0;
