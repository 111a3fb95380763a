// The model body's one static frame of the function-name stack. Before the body calls a
// translated function it names this frame with the text of the call and makes it the only
// frame on the stack, so that an error report inside the function shows the calling equation
// below the function's own frames. end_equation_reset empties the stack again.
#pragma once

#include "runtime/runtime_state.h"

inline FunctionFrame modelCallFrame{nullptr, nullptr};  // next is never written

inline void push_call_text(const char* callText) {
  modelCallFrame.name = callText;
  modelRuntime.functionStack = &modelCallFrame;
}
