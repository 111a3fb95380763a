// The exported entries of Tavelo.so: each forwards its arguments unchanged to the FMI
// operation of the same standard name. Nothing else is visible outside the library.
#include "fmi/fmi_functions.h"

#define TAVELO_EXPORT extern "C" __attribute__((visibility("default")))

TAVELO_EXPORT const char* Tavelo_fmiGetModelTypesPlatform() { return fmiGetModelTypesPlatform(); }

TAVELO_EXPORT const char* Tavelo_fmiGetVersion() { return fmiGetVersion(); }

TAVELO_EXPORT fmiComponent Tavelo_fmiInstantiateModel(fmiString instanceName, fmiString GUID,
                                                      fmiCallbackFunctions functions,
                                                      fmiBoolean loggingOn) {
  return enable_result_recording(fmiInstantiateModel(instanceName, GUID, functions, loggingOn));
}

TAVELO_EXPORT void Tavelo_fmiFreeModelInstance(fmiComponent c) { fmiFreeModelInstance(c); }

TAVELO_EXPORT fmiStatus Tavelo_fmiSetDebugLogging(fmiComponent c, fmiBoolean loggingOn) {
  return fmiSetDebugLogging(c, loggingOn);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiSetTime(fmiComponent c, fmiReal time) {
  return fmiSetTime(c, time);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiTerminate(fmiComponent c) { return fmiTerminate(c); }
