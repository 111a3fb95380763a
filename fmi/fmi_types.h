// FMI 1.0 Model Exchange types and the signatures of its 24 functions, written from the
// standard's definitions.
#pragma once

#include <cstddef>

extern "C" {

typedef void* fmiComponent;
typedef unsigned int fmiValueReference;
typedef double fmiReal;
typedef int fmiInteger;
typedef char fmiBoolean;  // one byte; fmiTrue is 1
typedef const char* fmiString;

#define fmiTrue ((fmiBoolean)1)
#define fmiFalse ((fmiBoolean)0)
#define fmiUndefinedValueReference ((fmiValueReference)(-1))

typedef enum { fmiOK = 0, fmiWarning = 1, fmiDiscard = 2, fmiError = 3, fmiFatal = 4 } fmiStatus;

typedef void (*fmiCallbackLogger)(fmiComponent c, fmiString instanceName, fmiStatus status,
                                  fmiString category, fmiString message, ...);
typedef void* (*fmiCallbackAllocateMemory)(size_t nobj, size_t size);
typedef void (*fmiCallbackFreeMemory)(void* obj);

typedef struct {
  fmiCallbackLogger logger;
  fmiCallbackAllocateMemory allocateMemory;
  fmiCallbackFreeMemory freeMemory;
} fmiCallbackFunctions;

typedef struct {
  fmiBoolean iterationConverged;
  fmiBoolean stateValueReferencesChanged;
  fmiBoolean stateValuesChanged;
  fmiBoolean terminateSimulation;
  fmiBoolean upcomingTimeEvent;
  fmiReal nextEventTime;
} fmiEventInfo;

// Function types of the exported entries, as a host resolves them.
typedef const char* fmiGetModelTypesPlatformTYPE(void);
typedef const char* fmiGetVersionTYPE(void);
typedef fmiComponent fmiInstantiateModelTYPE(fmiString instanceName, fmiString GUID,
                                             fmiCallbackFunctions functions, fmiBoolean loggingOn);
typedef void fmiFreeModelInstanceTYPE(fmiComponent c);
typedef fmiStatus fmiSetDebugLoggingTYPE(fmiComponent c, fmiBoolean loggingOn);
typedef fmiStatus fmiSetTimeTYPE(fmiComponent c, fmiReal time);
typedef fmiStatus fmiSetContinuousStatesTYPE(fmiComponent c, const fmiReal x[], size_t nx);
typedef fmiStatus fmiCompletedIntegratorStepTYPE(fmiComponent c, fmiBoolean* callEventUpdate);
typedef fmiStatus fmiSetRealTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                 const fmiReal value[]);
typedef fmiStatus fmiSetIntegerTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                    const fmiInteger value[]);
typedef fmiStatus fmiSetBooleanTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                    const fmiBoolean value[]);
typedef fmiStatus fmiSetStringTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                   const fmiString value[]);
typedef fmiStatus fmiInitializeTYPE(fmiComponent c, fmiBoolean toleranceControlled,
                                    fmiReal relativeTolerance, fmiEventInfo* eventInfo);
typedef fmiStatus fmiGetDerivativesTYPE(fmiComponent c, fmiReal derivatives[], size_t nx);
typedef fmiStatus fmiGetEventIndicatorsTYPE(fmiComponent c, fmiReal eventIndicators[], size_t ni);
typedef fmiStatus fmiGetRealTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                 fmiReal value[]);
typedef fmiStatus fmiGetIntegerTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                    fmiInteger value[]);
typedef fmiStatus fmiGetBooleanTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                    fmiBoolean value[]);
typedef fmiStatus fmiGetStringTYPE(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                   fmiString value[]);
typedef fmiStatus fmiEventUpdateTYPE(fmiComponent c, fmiBoolean intermediateResults,
                                     fmiEventInfo* eventInfo);
typedef fmiStatus fmiGetContinuousStatesTYPE(fmiComponent c, fmiReal states[], size_t nx);
typedef fmiStatus fmiGetNominalContinuousStatesTYPE(fmiComponent c, fmiReal x_nominal[], size_t nx);
typedef fmiStatus fmiGetStateValueReferencesTYPE(fmiComponent c, fmiValueReference vrx[], size_t nx);
typedef fmiStatus fmiTerminateTYPE(fmiComponent c);

}  // extern "C"

// The 24 functions by name, without the fmi prefix, for code that handles each of them alike:
// X(name) is expanded once per function, fmi##name##TYPE being its type.
// clang-format off
#define TAVELO_FMI_FUNCTIONS(X)                                                       \
  X(GetModelTypesPlatform) X(GetVersion) X(InstantiateModel) X(FreeModelInstance)     \
  X(SetDebugLogging) X(SetTime) X(SetContinuousStates) X(CompletedIntegratorStep)     \
  X(SetReal) X(SetInteger) X(SetBoolean) X(SetString) X(Initialize) X(GetDerivatives) \
  X(GetEventIndicators) X(GetReal) X(GetInteger) X(GetBoolean) X(GetString)           \
  X(EventUpdate) X(GetContinuousStates) X(GetNominalContinuousStates)                 \
  X(GetStateValueReferences) X(Terminate)
// clang-format on
