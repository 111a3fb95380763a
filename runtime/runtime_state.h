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

// The model's counts as the entry publishes them at initialisation (set_runtime_sizes); only
// nrel, the relation count, is read afterwards (by the entry's loops over the relations).
struct RuntimeSizes {
  int32_t nx = 0;      // continuous states
  int32_t nx2 = 0;     // a second state count
  int32_t nu = 0;      // inputs
  int32_t ny = 0;      // outputs
  int32_t nw = 0;      // auxiliaries
  int32_t np = 0;      // parameters
  int32_t nrel2 = 0;   // relations (first copy)
  int32_t nrel = 0;    // relations
  int32_t extra1 = 0;
  int32_t extra2 = 0;
};

struct ModelRuntimeState {
  double time = 0.0;              // model time of the current dsblock_ call
  int32_t initial = 0;            // nonzero while the model initialises; after an
                                  // initialisation call it stays 1 until the next call
  int32_t event = 0;              // nonzero at initialisation and event passes
  int32_t status = RunStatusOk;   // RunStatus; cleared at every dsblock_ call
  int32_t printFlags = 0;         // PrintFlags; cleared at initialisation
  double nextTimeEvent = 1e100;   // 1e100 when none
  double earliestRequestedTime = 0.0;  // earliest time event requested since none was pending
  double largestSampleStart = 0.0;     // largest magnitude of a sample start seen so far
  int32_t callEventUpdate = 0;
  double startTime = 0.0;         // time of the last initialisation call
  int32_t changed = 0;            // something changed in the current pass
  int32_t initCounter = 0;        // initialisation calls so far
  int32_t lastInitCounter = 0;    // initCounter at the previous call
  int32_t newInit = 0;            // guard of the parameter section
  int32_t initialCall = 0;        // the current call is an initialisation
  int32_t eventIteration = 0;     // passes made in the current call
  int32_t maxEventIterations = 25;
  double EventEpsilon = 1e-10;    // relative event epsilon of the relations
  int32_t retryPassRequested = 0; // the friction system asks for another event pass
  int32_t fixedStepMode = 0;      // fixed-step event anticipation; nothing sets it
  RuntimeSizes sizes;
  FunctionFrame* functionStack = nullptr;  // top of the function-name stack
};

extern ModelRuntimeState modelRuntime;

// The error return point of the model entry. model_error throws it; dsblock_ catches it and
// turns the landing into QiErr = 1. It never leaves an extern "C" function.
struct ModelErrorReturn {
  int value;
};
