#include "runtime/runtime_state.h"

ModelRuntimeState modelRuntime;
