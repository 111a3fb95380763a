// The exported entries of the library: each forwards its arguments unchanged to the FMI
// operation of the same standard name. Nothing else is visible outside the library. They use
// the platform's default calling convention; on Windows the module-definition file
// cmake/Tavelo.def names them (undecorated) and gives their ordinals.
#include "fmi/fmi_functions.h"

#if defined(_WIN32)
#define TAVELO_EXPORT extern "C"
#else
#define TAVELO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

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

TAVELO_EXPORT fmiStatus Tavelo_fmiSetContinuousStates(fmiComponent c, const fmiReal x[],
                                                      size_t nx) {
  return fmiSetContinuousStates(c, x, nx);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiCompletedIntegratorStep(fmiComponent c,
                                                          fmiBoolean* callEventUpdate) {
  return fmiCompletedIntegratorStep(c, callEventUpdate);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiSetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                          const fmiReal value[]) {
  return fmiSetReal(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiSetInteger(fmiComponent c, const fmiValueReference vr[],
                                             size_t nvr, const fmiInteger value[]) {
  return fmiSetInteger(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiSetBoolean(fmiComponent c, const fmiValueReference vr[],
                                             size_t nvr, const fmiBoolean value[]) {
  return fmiSetBoolean(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiSetString(fmiComponent c, const fmiValueReference vr[],
                                            size_t nvr, const fmiString value[]) {
  return fmiSetString(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiInitialize(fmiComponent c, fmiBoolean toleranceControlled,
                                             fmiReal relativeTolerance, fmiEventInfo* eventInfo) {
  return fmiInitialize(c, toleranceControlled, relativeTolerance, eventInfo);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetDerivatives(fmiComponent c, fmiReal derivatives[], size_t nx) {
  return fmiGetDerivatives(c, derivatives, nx);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetEventIndicators(fmiComponent c, fmiReal eventIndicators[],
                                                     size_t ni) {
  return fmiGetEventIndicators(c, eventIndicators, ni);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                                          fmiReal value[]) {
  return fmiGetReal(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetInteger(fmiComponent c, const fmiValueReference vr[],
                                             size_t nvr, fmiInteger value[]) {
  return fmiGetInteger(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetBoolean(fmiComponent c, const fmiValueReference vr[],
                                             size_t nvr, fmiBoolean value[]) {
  return fmiGetBoolean(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetString(fmiComponent c, const fmiValueReference vr[],
                                            size_t nvr, fmiString value[]) {
  return fmiGetString(c, vr, nvr, value);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiEventUpdate(fmiComponent c, fmiBoolean intermediateResults,
                                              fmiEventInfo* eventInfo) {
  return fmiEventUpdate(c, intermediateResults, eventInfo);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetContinuousStates(fmiComponent c, fmiReal states[], size_t nx) {
  return fmiGetContinuousStates(c, states, nx);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetNominalContinuousStates(fmiComponent c, fmiReal x_nominal[],
                                                             size_t nx) {
  return fmiGetNominalContinuousStates(c, x_nominal, nx);
}

TAVELO_EXPORT fmiStatus Tavelo_fmiGetStateValueReferences(fmiComponent c, fmiValueReference vrx[],
                                                          size_t nx) {
  return fmiGetStateValueReferences(c, vrx, nx);
}
