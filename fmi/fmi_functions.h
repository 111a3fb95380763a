// The FMI 1.0 Model Exchange operations behind the exported Tavelo_fmi* entries. Internal to
// the library (C++ linkage, hidden); fmi/exports.cpp forwards to them.
#pragma once

#include <cstddef>

#include "fmi/fmi_types.h"
#include "fmi/model_instance.h"

// Instance lifecycle.
const char* fmiGetModelTypesPlatform();
const char* fmiGetVersion();
fmiComponent fmiInstantiateModel(fmiString instanceName, fmiString GUID,
                                 fmiCallbackFunctions functions, fmiBoolean loggingOn);
// Switches result recording on for an instance that fmiInstantiateModel created.
fmiComponent enable_result_recording(fmiComponent c);
// The name copy through allocateMemory: "<NULL>" for a null name, cut to 1024 characters.
char* copy_instance_name(const fmiCallbackFunctions& functions, const char* name);
void fmiFreeModelInstance(fmiComponent c);
fmiStatus fmiSetDebugLogging(fmiComponent c, fmiBoolean loggingOn);
fmiStatus fmiSetTime(fmiComponent c, fmiReal time);
fmiStatus fmiTerminate(fmiComponent c);

// Values and evaluation.
fmiStatus fmiSetContinuousStates(fmiComponent c, const fmiReal x[], size_t nx);
fmiStatus fmiSetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                     const fmiReal value[]);
fmiStatus fmiSetInteger(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        const fmiInteger value[]);
fmiStatus fmiSetBoolean(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        const fmiBoolean value[]);
fmiStatus fmiSetString(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                       const fmiString value[]);
fmiStatus fmiInitialize(fmiComponent c, fmiBoolean toleranceControlled, fmiReal relativeTolerance,
                        fmiEventInfo* eventInfo);
fmiStatus fmiGetDerivatives(fmiComponent c, fmiReal derivatives[], size_t nx);
fmiStatus fmiGetEventIndicators(fmiComponent c, fmiReal eventIndicators[], size_t ni);
fmiStatus fmiGetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr, fmiReal value[]);
fmiStatus fmiGetInteger(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        fmiInteger value[]);
fmiStatus fmiGetBoolean(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        fmiBoolean value[]);
fmiStatus fmiGetString(fmiComponent c, const fmiValueReference vr[], size_t nvr, fmiString value[]);
fmiStatus fmiEventUpdate(fmiComponent c, fmiBoolean intermediateResults, fmiEventInfo* eventInfo);
fmiStatus fmiCompletedIntegratorStep(fmiComponent c, fmiBoolean* callEventUpdate);
fmiStatus fmiGetContinuousStates(fmiComponent c, fmiReal states[], size_t nx);
fmiStatus fmiGetNominalContinuousStates(fmiComponent c, fmiReal x_nominal[], size_t nx);
fmiStatus fmiGetStateValueReferences(fmiComponent c, fmiValueReference vrx[], size_t nx);
