// The model entry: evaluates the model for a demand level, with the event iteration at
// initialisation and events. The outcome is in *QiErr (0 success).
#pragma once

#include <cstdint>

// Demand levels: the first argument of dsblock_.
constexpr int32_t DemandInitialize = 0;
constexpr int32_t DemandDerivatives = 2;
constexpr int32_t DemandOutputs = 3;
constexpr int32_t DemandCrossingFunctions = 4;
constexpr int32_t DemandEventUpdate = 5;
constexpr int32_t DemandEventUpdateAlt = 7;  // handled like 5

// The entry's arguments, in order, as one pass of the model body receives them. The slots are
// always null from the FMI layer.
struct ModelEntryArguments {
  int32_t* demand;
  int32_t* computedLevel;
  double* time;
  double* states;
  void* slot5;
  double* inputs;
  double* parameters;
  void* slot8;
  void* slot9;
  double* derivatives;
  double* outputs;
  double* auxiliaries;
  double* eventIndicators;  // two crossing values per relation
  void* slot14;
  void* slot15;
  void* slot16;
  int32_t* QiErr;
};

// Always returns 0; nothing escapes it. *QiErr: 0 success (left untouched), 1 model error or
// failed event iteration, otherwise the RunStatus the body handed back (-999 terminate).
// *computedLevel holds the served demand after success.
int dsblock_(int32_t* demand, int32_t* computedLevel, double* time, double* states, void* slot5,
             double* inputs, double* parameters, void* slot8, void* slot9, double* derivatives,
             double* outputs, double* auxiliaries, double* eventIndicators, void* slot14,
             void* slot15, void* slot16, int32_t* QiErr) noexcept;

// The same with an 18th argument that is handed to the body and not read.
int dsblock_event_iteration(int32_t* demand, int32_t* computedLevel, double* time, double* states,
                            void* slot5, double* inputs, double* parameters, void* slot8,
                            void* slot9, double* derivatives, double* outputs,
                            double* auxiliaries, double* eventIndicators, void* slot14,
                            void* slot15, void* slot16, int32_t* QiErr, int extra) noexcept;

// Writes the model counts: 4, 0, 0, 0, 1768, 62, 16, 16, 0, 0 (states, a second state count,
// inputs, outputs, auxiliaries, parameters, the relation count twice, two further counts).
void set_runtime_sizes(int32_t* nx, int32_t* nx2, int32_t* nu, int32_t* ny, int32_t* nw,
                       int32_t* np, int32_t* nrel2, int32_t* nrel, int32_t* extra1,
                       int32_t* extra2);

// Clears the per-sample flags of the model's sample operators; the model has none.
void clear_sample_flags();
