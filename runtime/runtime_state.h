// The process-wide state of a model evaluation, shared by the model runtime, the model entry
// and the FMI layer. One record, reset in one place (the model entry).
#pragma once

#include <cstdint>

// One entry of the function-name stack. Frames live among the locals of the translated
// function that pushed them (or in the one static frame of the model body); never allocated.
struct FunctionFrame {
  const char* name;
  FunctionFrame* next;
};

// Values of RunStatus.
constexpr int32_t RunStatusOk = 0;
constexpr int32_t RunStatusError = 1;
constexpr int32_t RunStatusTerminate = -999;
constexpr int32_t RunStatusStop = -998;

// Bits of printFlags.
constexpr int32_t PrintFlagEvents = 0x2;      // log events and changes of relations and discrete variables
constexpr int32_t PrintFlagInitRelations = 0x4;  // also relation results at initialisation
constexpr int32_t PrintFlagQuiet = 0x400;     // no model-error report

struct ModelRuntimeState {
  double time = 0.0;              // model time of the current dsblock_ call
  int32_t initial = 0;            // nonzero while the model initialises
  int32_t event = 0;              // nonzero at initialisation and event passes
  int32_t status = RunStatusOk;   // RunStatus
  int32_t printFlags = 0;         // PrintFlags
  double nextTimeEvent = 1e100;   // 1e100 when none
  int32_t callEventUpdate = 0;
  double startTime = 0.0;
  int32_t changed = 0;            // something changed in the current pass
  int32_t initCounter = 0;
  int32_t lastInitCounter = 0;
  int32_t newInit = 0;
  int32_t initialCall = 0;
  int32_t eventIteration = 0;
  int32_t maxEventIterations = 25;
  double EventEpsilon = 1e-10;
  int32_t retryPassRequested = 0;
  FunctionFrame* functionStack = nullptr;  // top of the function-name stack
};

extern ModelRuntimeState modelRuntime;

// The error return point of the model entry. model_error throws it; dsblock_ catches it and
// turns the landing into QiErr = 1. It never leaves an extern "C" function.
struct ModelErrorReturn {
  int value;
};
