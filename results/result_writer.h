// The result writer: records every variable of the model into "dsres.mat" in the current
// directory through the trajectory layer, numbering, naming and sampling the variables with
// the variable-table walker declare_ in the writer's phases.
//
// Phases (ResultWriterPhase): 1 numbering, 2 storage (prepare); 3 names and dataInfo, 4 check,
// 5 constant values, 6 file open (open); 7 row sampling, 8 row appended (write_row); 9 closing,
// then 0 again.
//
// The writer's own failures end the process: the message "Out of memory", "Internal error" or
// "Failed to open result dsres.mat" goes to the standard error stream without a line end, and
// the exit status is 1. Failed row appends and a failed close are not reported.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "results/result_file.h"

// The name of the result file, in the current directory.
extern const char resultFileName[];

// Arguments of one phase of the writer.
struct ResultPhaseArguments {
  int32_t phase;
  ResultFile* result;
  double time;
  double t1;
  const double* parameters;
  const double* states;
  const double* derivatives;
  const double* outputs;
  const double* inputs;
  const double* auxiliaries;
};

// Sets ResultWriterPhase and does the writer's part of that phase (1-9).
void result_file_phase(const ResultPhaseArguments& arguments);

// Phases 1 and 2. The caller zeroes the record and sets ResultWriterPhase to 0 beforehand.
void result_file_prepare(ResultFile* result);
// Phases 3 to 6: names, dataInfo and the time-invariant values at time and t1; opens the file
// and writes everything up to "data_1", then starts "data_2". A prepared record only.
void result_file_open(ResultFile* result, double time, double t1, const double* parameters,
                      const double* states, const double* derivatives, const double* outputs,
                      const double* inputs, const double* auxiliaries);
// Phases 7 and 8: appends one row of "data_2" (time and the time-varying values); t1 is not
// used. Does nothing when the file is not open.
void result_file_write_row(ResultFile* result, double time, double t1, const double* parameters,
                           const double* states, const double* derivatives,
                           const double* outputs, const double* inputs,
                           const double* auxiliaries);
// Phase 9: closes the file when open, releases everything allocated, phase 0. Safe on a
// zeroed record and when called again.
void result_file_close(ResultFile* result);

// A double as the nearest 4-byte float (ties to even); values beyond the float range become
// the largest float or infinity exactly as IEEE rounding gives them. Inline: every row converts
// each of its values.
inline float result_float(double value) {
  if (std::fabs(value) <= FLT_MAX) return static_cast<float>(value);  // nearly every value
  // Halfway between the largest float and 2^128: from here on IEEE rounding overflows.
  constexpr double overflow = 0x1.ffffffp+127;
  if (value >= overflow) return INFINITY;
  if (value <= -overflow) return -INFINITY;
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}
