// The model entry and its event iteration. At initialisation and events the body runs in
// passes until nothing changes any more, at most 25 passes plus one that only logs what still
// changes; an ordinary evaluation makes one pass.
#include "model/dsblock.h"

#include "model/body_chain.h"
#include "model/body_sections.h"
#include "model/pre_values.h"
#include "model/variable_table.h"
#include "runtime/clocale.h"
#include "runtime/event_anticipation.h"
#include "runtime/output.h"
#include "runtime/relations.h"
#include "runtime/runtime_state.h"

static_assert(RelationCount == ModelRelationCount);
static_assert(DiscreteCount == ModelPreValueCount);

namespace {

constexpr int32_t EventIterationLimit = 25;
constexpr double NoSavedSolutionTime = -1e33;
// Crossing value reported for a relation an event call did not evaluate.
constexpr double UnevaluatedCrossingValue = 0.1;

int32_t relation_count() {
  // The count comes from set_runtime_sizes; never beyond the relation arrays.
  const int32_t n = modelRuntime.sizes.nrel;
  return n < 0 ? 0 : (n > RelationCount ? RelationCount : n);
}

void clear_evaluated_flags() {
  for (int32_t k = 0; k < relation_count(); ++k) relation_hysteresis.evaluatedBefore[k] = 0;
}

bool is_event_demand(int32_t demand) {
  return demand == DemandEventUpdate || demand == DemandEventUpdateAlt;
}

// Set while a call runs: the process-wide state belongs to that call, so a call made from
// inside it (a host logger calling back into the library) is refused.
bool entryBusy = false;

struct BusyScope {
  BusyScope() { entryBusy = true; }
  ~BusyScope() { entryBusy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// After a model error the evaluation was abandoned in the middle: empty the array buffers and
// the function-name stack so the next call starts clean.
void reset_after_model_error() { end_equation_reset(); }

void run_event_iteration(const ModelEntryArguments& a, int extra) {
  ModelRuntimeState& rt = modelRuntime;
  const int32_t demand = *a.demand;

  rt.time = *a.time;
  rt.initial = demand == DemandInitialize ? 1 : 0;
  if (rt.initial) rt.initCounter += 1;
  rt.newInit = rt.initCounter != rt.lastInitCounter ? 1 : 0;
  if (rt.newInit) *a.computedLevel = 0;
  rt.lastInitCounter = rt.initCounter;
  rt.event = (rt.initial || is_event_demand(demand)) ? 1 : 0;
  rt.status = RunStatusOk;

  if (rt.initial) {
    saTime = NoSavedSolutionTime;
    saPrevTime = NoSavedSolutionTime;
    rt.startTime = rt.time;
    rt.initialCall = 1;
    rt.printFlags = 0;
    rt.maxEventIterations = EventIterationLimit;
    rt.EventEpsilon = 1e-10;
    init_machine_constants();
    RuntimeSizes& s = rt.sizes;
    set_runtime_sizes(&s.nx, &s.nx2, &s.nu, &s.ny, &s.nw, &s.np, &s.nrel2, &s.nrel, &s.extra1,
                      &s.extra2);
  }
  if (rt.event) rt.callEventUpdate = 0;
  const int32_t nrel = relation_count();
  if (rt.initial) {
    for (int32_t i = 0; i < 2 * nrel; ++i) a.eventIndicators[i] = 1.0;
    for (int k = 0; k < DiscreteCount; ++k) {
      preValues[k] = 0.0;
      preValueFlags[k] = 0;
    }
  }
  rt.eventIteration = 0;
  if (rt.event) rt.nextTimeEvent = 1e100;
  if (demand == DemandCrossingFunctions || rt.event) clear_evaluated_flags();
  if (rt.event) clear_sample_flags();

  for (;;) {
    // Passes 11 and 22 evaluate every relation afresh.
    if (rt.eventIteration % 11 == 10) clear_evaluated_flags();
    rt.eventIteration += 1;
    rt.changed = 0;
    rt.retryPassRequested = 0;
    model_bindings_1(a, extra);

    const bool repeat = ((rt.initial && nrel > 0) || rt.changed) &&
                        rt.eventIteration <= rt.maxEventIterations;
    if (!repeat) break;
    if (rt.status != RunStatusOk) return;  // no tidying, computedLevel as the pass left it

    if (rt.printFlags & PrintFlagEvents) {
      log_message_line("Iterating to find consistent restart conditions.");
    } else if (rt.eventIteration == rt.maxEventIterations && !(rt.printFlags & PrintFlagQuiet)) {
      log_message_line("");
      log_message_line("On the final iteration for restart conditions we get:");
      rt.printFlags |= PrintFlagEvents;
    }
    rt.initial = 0;
    rt.newInit = (rt.newInit && rt.retryPassRequested) ? 1 : 0;
    rt.event = 1;
    *a.computedLevel = 0;
  }

  if (rt.eventIteration > rt.maxEventIterations) {
    log_message_line("");
    print_labelled_real("ERROR: Finding consistent restart conditions failed at time: ", rt.time);
    log_message_line("");
    *a.QiErr = 1;
    rt.status = RunStatusError;
    return;
  }

  rt.initial = rt.initialCall;
  rt.initialCall = 0;
  if ((rt.printFlags & PrintFlagEvents) &&
      ((rt.initial && nrel > 0) || rt.changed || rt.eventIteration > 1))
    print_labelled_real("      during event at Time : ", rt.time);
  if (rt.initial) reset_run_flags();
  if (rt.fixedStepMode != 0)
    anticipate_events(rt.time, rt.initial, rt.event, a.eventIndicators, nrel, a.derivatives,
                      rt.fixedStepMode == 1 ? rt.sizes.nx : 0);
  if (rt.event) {
    for (int32_t k = 0; k < nrel; ++k) {
      if (relation_hysteresis.evaluatedBefore[k] == 0 && a.eventIndicators[2 * k + 1] == 0.0) {
        a.eventIndicators[2 * k + 1] = UnevaluatedCrossingValue;
        a.eventIndicators[2 * k] = UnevaluatedCrossingValue;
      }
    }
  }
  *a.computedLevel = *a.demand;
}

}  // namespace

int dsblock_event_iteration(int32_t* demand, int32_t* computedLevel, double* time, double* states,
                            void* slot5, double* inputs, double* parameters, void* slot8,
                            void* slot9, double* derivatives, double* outputs,
                            double* auxiliaries, double* eventIndicators, void* slot14,
                            void* slot15, void* slot16, int32_t* QiErr, int extra) noexcept {
  const ModelEntryArguments a{demand,      computedLevel, time,    states,      slot5,
                              inputs,      parameters,    slot8,   slot9,       derivatives,
                              outputs,     auxiliaries,   eventIndicators, slot14, slot15,
                              slot16,      QiErr};
  if (entryBusy) {
    *QiErr = 1;
    return 0;
  }
  BusyScope busy;
  try {
    run_event_iteration(a, extra);
  } catch (const ModelErrorReturn&) {
    // The error return point: model_error has reported and set RunStatus.
    *QiErr = 1;
    reset_after_model_error();
    return 0;
  } catch (...) {
    // Nothing else may leave the entry (std::bad_alloc, for instance).
    modelRuntime.status = RunStatusError;
    *QiErr = 1;
    reset_after_model_error();
    return 0;
  }
  if (modelRuntime.status != RunStatusOk && *QiErr == 0) *QiErr = modelRuntime.status;
  return 0;
}

int dsblock_(int32_t* demand, int32_t* computedLevel, double* time, double* states, void* slot5,
             double* inputs, double* parameters, void* slot8, void* slot9, double* derivatives,
             double* outputs, double* auxiliaries, double* eventIndicators, void* slot14,
             void* slot15, void* slot16, int32_t* QiErr) noexcept {
  return dsblock_event_iteration(demand, computedLevel, time, states, slot5, inputs, parameters,
                                 slot8, slot9, derivatives, outputs, auxiliaries, eventIndicators,
                                 slot14, slot15, slot16, QiErr, 0);
}

void set_runtime_sizes(int32_t* nx, int32_t* nx2, int32_t* nu, int32_t* ny, int32_t* nw,
                       int32_t* np, int32_t* nrel2, int32_t* nrel, int32_t* extra1,
                       int32_t* extra2) {
  *nx = ModelStateCount;
  *nx2 = 0;
  *nu = ModelInputCount;
  *ny = ModelOutputCount;
  *nw = ModelAuxiliaryCount;
  *np = ModelParameterCount;
  *nrel2 = ModelRelationCount;
  *nrel = ModelRelationCount;
  *extra1 = 0;
  *extra2 = 0;
}

// The model has no sample operators.
void clear_sample_flags() {}
