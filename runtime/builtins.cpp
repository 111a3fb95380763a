// Built-in operators of the generated model code. Time events gather in
// modelRuntime.nextTimeEvent, which every event call of the model entry resets to 1e100.
#include "runtime/builtins.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

#include "runtime/output.h"
#include "runtime/runtime_state.h"
#include "source/matrixop.h"

SampleStorage sampleStorage;

namespace {

// A pending time event lies below this; nextTimeEvent is 1e100 when none is.
constexpr double NoTimeEventPending = 1e30;
// Relative tolerance of time-event requests: 6 * 2^-52.
constexpr double TimeEventTolerance = 0x1.8p-50;
// Relative tolerance within which a sample instant counts as reached.
constexpr double SampleTolerance = 5e-14;

// A memory argument must be a vector with at least one element.
void check_memory_argument(int d1, int d2, const char* notVector, const char* empty) {
  if (d1 == 1 && d2 == 1) model_error(notVector);
  if (d1 < 1 || d2 < 1) model_error(empty);
}

void check_sample_interval(double interval) {
  if (!(interval > 0.0)) model_error("Sample did not have positive sample interval");
}

// The sample's count from the time of the call: 0 up to start, then the number of the first
// instant at or after the time.
double recount(double time, double start, double interval) {
  modelRuntime.largestSampleStart = std::max(modelRuntime.largestSampleStart, std::fabs(start));
  return sample_period_count(std::max(time, start), start, interval);
}

// Advances *count past every instant reached at time; 1 when one was. Stops when the count can
// grow no more (an infinite time or a count beyond 2^53), where it would loop forever.
int advance_past(double time, double start, double interval, double* count, double* next) {
  const double eps = (std::fabs(time) + modelRuntime.largestSampleStart) * SampleTolerance;
  int reached = 0;
  while (time + eps >= *next) {
    const double advanced = *count + 1.0;
    if (advanced == *count) break;
    *count = advanced;
    *next = start + interval * *count;
    reached = 1;
  }
  return reached;
}

}  // namespace

double get_initial_time() { return modelRuntime.startTime; }

double getMemory(double* m, int d1, int d2) {
  check_memory_argument(d1, d2, "Memory argument to getMemory must be a vector.",
                        "Memory argument to getMemory is empty.");
  return m[0];
}

double putMemory(int doPut, double* m, int d1, int d2, double v) {
  check_memory_argument(d1, d2, "Memory argument to putMemory must be a vector.",
                        "Memory argument to putMemory is empty.");
  if (doPut) m[0] = v;
  return 0.0;
}

void register_time_event(double t) {
  ModelRuntimeState& rt = modelRuntime;
  const double eps = (std::fabs(t) + rt.largestSampleStart) * TimeEventTolerance;
  if (rt.nextTimeEvent >= NoTimeEventPending) rt.earliestRequestedTime = rt.nextTimeEvent;
  if (t >= rt.nextTimeEvent + eps) return;  // after the pending event
  if (t < rt.earliestRequestedTime) {
    rt.earliestRequestedTime = t;
    if (t + eps < rt.nextTimeEvent) rt.nextTimeEvent = t;
  } else if (t <= rt.earliestRequestedTime + eps && rt.nextTimeEvent < t) {
    // Within eps of the earliest request: gather at the latest of them.
    rt.nextTimeEvent = t;
  }
}

double sample_period_count(double x, double start, double interval) {
  return std::ceil((x - start) / interval);
}

int sample_operator(double time, double start, double interval, int index, int initial,
                    int event) {
  check_sample_interval(interval);
  double* count = &sampleStorage.count[index];
  if (initial || (event && sampleStorage.boolean[index] == 0)) {
    const double k = recount(time, start, interval);
    if (initial || count[0] < k) count[0] = k;
  }
  int reached = 0;
  if (event) {
    double next = start + interval * count[0];
    reached = advance_past(time, start, interval, &count[0], &next);
    count[1] = count[0];
    sampleStorage.flag[index] = 1;
    register_time_event(next);
  }
  return reached;
}

int sample_operator_validated(double time, double start, double interval, int index, int mode,
                              int event) {
  check_sample_interval(interval);
  double* count = &sampleStorage.count[index];
  if (mode != 0 || (event && count[0] == 0.0)) {
    if (mode == 2) return 0;
    const double k = recount(time, start, interval);
    if (mode != 0 || count[0] < k) count[0] = k;
  }
  int reached = 0;
  if (event) {
    double next = start + interval * count[0];
    count[1] = count[0];
    reached = advance_past(time, start, interval, &count[1], &next);
    sampleStorage.flag[index] = 1;
    register_time_event(next);
  }
  return reached;
}

double* real_element_address(int ndims, const int* dims, double* data, ...) {
  va_list subscripts;
  va_start(subscripts, data);
  const int32_t index = ArrayLinearIndexList(ndims, dims, subscripts);
  va_end(subscripts);
  return data + index;
}

void terminate_simulation(const char* message) {
  if (modelRuntime.status == RunStatusTerminate) return;
  log_message_line("Simulation successfully terminated");
  log_message_line(message);
  modelRuntime.status = RunStatusTerminate;
}

void set_stop_status() { modelRuntime.status = RunStatusStop; }

void model_hook_none() {}

int model_hook_zero() { return 0; }

int get_event_flag() { return modelRuntime.event; }
