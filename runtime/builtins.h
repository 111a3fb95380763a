// Built-in operators of the generated model code: time events, the two sample operators,
// terminate and a stop request, the memory vector, the start time of the run, element
// addresses and three hooks. They meet the rest of the system in words of modelRuntime:
// nextTimeEvent (reported to the host), status (handed back as QiErr), startTime and event.
#pragma once

#include <cstdint>

// The per-sample storage of a model, laid out by its code and addressed by the index that it
// passes to a sample operator: sample i owns count[i] and count[i + 1], flag[i] and
// boolean[i] (so a model numbers its samples 0, 2, 4, ...). Null while no model lays it out.
struct SampleStorage {
  double* count = nullptr;     // the number of the next sample instant, two slots per sample
  int32_t* flag = nullptr;     // set to 1 when the sample's operator runs at an event
  int32_t* boolean = nullptr;  // the sample's Boolean: while nonzero at an event, no recount
};

extern SampleStorage sampleStorage;

// The time of the last initialisation call.
double get_initial_time();

// Reads element 0 of a memory vector of d1 x d2 elements; a 1 x 1 or empty argument is a
// model error.
double getMemory(double* m, int d1, int d2);
// Stores v into element 0 when doPut is nonzero; returns 0.0. A 1 x 1 or empty argument is
// a model error.
double putMemory(int doPut, double* m, int d1, int d2, double v);

// Requests a time event at t. The earliest request since no event was pending wins; requests
// within a relative tolerance of it gather at the latest of them.
void register_time_event(double t);

// ceil((x - start) / interval): the number of the first sample instant at or after x.
double sample_period_count(double x, double start, double interval);

// sample(start, interval): 1 when a sample instant is reached at this event, else 0. Counts in
// slot index (copied to slot index + 1) and requests the next instant as a time event. A
// non-positive or NaN interval is a model error.
int sample_operator(double time, double start, double interval, int index, int initial,
                    int event);
// The same with mode 1 (recount) or 2 (return 0 at once); counts in slot index + 1 and leaves
// slot index to the model. A non-positive or NaN interval is a model error.
int sample_operator_validated(double time, double start, double interval, int index, int mode,
                              int event);

// The address of element (subscripts, 1-based, ndims ints) of a row-major array; each
// subscript is asserted against its extent.
double* real_element_address(int ndims, const int* dims, double* data, ...);

// terminate(message): logs "Simulation successfully terminated" and the message and sets the
// run status to terminate; returns normally. A second call in the same evaluation does nothing.
void terminate_simulation(const char* message);
// Sets the run status to the stop request.
void set_stop_status();

void model_hook_none();
int model_hook_zero();
// The event flag of the current evaluation.
int get_event_flag();
