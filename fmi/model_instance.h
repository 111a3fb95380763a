// The FMI component record, the single instance of the process and the logging path to the
// host.
#pragma once

#include <cstdint>

#include "fmi/fmi_types.h"
#include "results/result_file.h"
#include "runtime/output.h"

struct ModelInstance {
  char* instanceName;  // own copy, at most 1024 characters
  uint8_t loggingOn;
  uint32_t nx;  // continuous states
  uint32_t ni;  // event indicators: two per relation
  double* states;
  double* parameters;
  double* derivatives;
  double* inputs;
  double* outputs;
  double* auxiliaries;
  double* eventIndicators;
  double* nominalStates;
  fmiCallbackLogger logger;
  fmiCallbackAllocateMemory allocateMemory;
  fmiCallbackFreeMemory freeMemory;
  double time;
  int32_t computedLevel;
  int32_t initialized;
  uint8_t recordResult;
  ResultFile result;
  double lastResultTime;
};

extern ModelInstance* currentInstance;
extern const char modelGUID[];

// The logging rule: suppressed messages (debug logging off, status below fmiError) are not
// formatted at all; others are formatted into 4096 characters and handed to the logger.
void log_status_message(ModelInstance* instance, const char* instanceName, const char* category,
                        fmiStatus status, const char* format, ...) TAVELO_PRINTF(5, 6);
// Runtime text to the current instance's logger with status fmiOK; dropped without instance.
void log_model_message(const char* text, int newline);
