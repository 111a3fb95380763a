// The evaluation calls: initialisation with its event information, derivatives, event
// indicators, event updates and the completed step.
#include "fmi/evaluation.h"

#include <algorithm>
#include <cmath>

#include "fmi/fmi_functions.h"
#include "model/dsblock.h"
#include "model/variable_table.h"
#include "results/result_writer.h"
#include "runtime/runtime_state.h"

namespace {

ModelInstance* as_instance(fmiComponent c) { return static_cast<ModelInstance*>(c); }

// QiErr of a model entry that executed terminate().
constexpr int32_t QiErrTerminate = -999;
// A time event beyond this is no upcoming event (none pending is 1e100).
constexpr double TimeEventHorizon = 1e37;
// The second time value handed to the result writer with every row.
constexpr double ResultTimeTolerance = 1e-9;

void set_time_event(fmiEventInfo& eventInfo) {
  const double next = modelRuntime.nextTimeEvent;
  eventInfo.upcomingTimeEvent = next < TimeEventHorizon ? fmiTrue : fmiFalse;
  if (eventInfo.upcomingTimeEvent) eventInfo.nextEventTime = next;
}

// Rows lie within 1e-7 s of a whole millisecond.
bool on_result_grid(double t) {
  return std::fabs(1000.0 * t - std::floor(1000.0 * t + 0.5)) < 1e-4;
}

// The result file is open from a successful fmiInitialize of a recording instance until
// fmiTerminate or the free of the instance.
bool result_file_is_open(const ModelInstance& m) {
  return m.recordResult == 1 && m.result.isOpen == 1;
}

// lastResultTime before the first row: below every time, so that a start time of -1 or
// earlier still gets its rows.
constexpr double NoResultRowYet = -INFINITY;

void write_result_row(ModelInstance& m, double t) {
  result_file_write_row(&m.result, t, ResultTimeTolerance, m.parameters, m.states,
                        m.derivatives, m.outputs, m.inputs, m.auxiliaries);
  m.lastResultTime = t;
}

}  // namespace

size_t count_to_copy(ModelInstance* m, const char* function, const char* argument, size_t given,
                     uint32_t expected, fmiStatus& status) {
  if (given == expected) return given;
  log_status_message(m, m->instanceName, "", fmiWarning,
                     "%s: argument %s = %zu is incorrect, should be %u\n", function, argument,
                     given, expected);
  status = fmiWarning;
  return given < expected ? given : expected;
}

int32_t evaluate_model(ModelInstance& m, int32_t demand) {
  int32_t QiErr = 0;
  // dsblock_ is noexcept and catches every model error itself.
  dsblock_(&demand, &m.computedLevel, &m.time, m.states, nullptr, m.inputs, m.parameters, nullptr,
           nullptr, m.derivatives, m.outputs, m.auxiliaries, m.eventIndicators, nullptr, nullptr,
           nullptr, &QiErr);
  // The values of a failed pass are no answer to a later request at the same level.
  if (QiErr != 0) m.computedLevel = 0;
  return QiErr;
}

fmiStatus fmiInitialize(fmiComponent c, fmiBoolean toleranceControlled, fmiReal,
                        fmiEventInfo* eventInfo) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr || eventInfo == nullptr) return fmiError;
  fmiStatus status = fmiOK;
  if (toleranceControlled == fmiTrue) {
    log_status_message(m, m->instanceName, "", fmiWarning,
                       "fmiInitialize: tolerance control not supported\n");
    status = fmiWarning;
  }
  if (m->recordResult == 1) {
    // A file still open from an earlier fmiInitialize (or storage prepared by one that
    // failed) is finished and released before the record starts again.
    result_file_close(&m->result);
    m->result = ResultFile{};
    ResultWriterPhase = 0;
    result_file_prepare(&m->result);
  }
  const int32_t QiErr = evaluate_model(*m, DemandInitialize);
  if (QiErr != 0) {
    log_status_message(m, m->instanceName, "", fmiError,
                       "fmiInitialize: dsblock_ failed, QiErr = %d\n", QiErr);
    return fmiError;
  }
  eventInfo->iterationConverged = fmiTrue;
  eventInfo->stateValueReferencesChanged = fmiFalse;
  eventInfo->stateValuesChanged = fmiTrue;
  eventInfo->terminateSimulation = fmiFalse;
  set_time_event(*eventInfo);
  if (m->recordResult == 1) {
    // The header of "dsres.mat" and the time-invariant values, then the first row.
    result_file_open(&m->result, m->time, ResultTimeTolerance, m->parameters, m->states,
                     m->derivatives, m->outputs, m->inputs, m->auxiliaries);
    m->lastResultTime = NoResultRowYet;
    if (m->time > m->lastResultTime) write_result_row(*m, m->time);
  }
  m->initialized = 1;
  return status;
}

namespace {

// What one evaluation request copies: derivatives at level 2, event indicators at level 4.
struct EvaluatedArray {
  const char* function;        // the name in the count and failure messages
  const char* notInitialized;  // the name in the "comp is not initialized" message
  const char* argument;        // the name of the count argument
  int32_t demand;
  double* ModelInstance::*values;
  uint32_t ModelInstance::*count;
};

constexpr EvaluatedArray Derivatives{"fmiGetDerivatives", "fmiSetDerivatives", "nx",
                                     DemandDerivatives, &ModelInstance::derivatives,
                                     &ModelInstance::nx};
constexpr EvaluatedArray EventIndicators{"fmiGetEventIndicators", "fmiGetEventIndicators", "ni",
                                         DemandCrossingFunctions, &ModelInstance::eventIndicators,
                                         &ModelInstance::ni};

// Evaluates up to the array's level unless the cache already holds it, then copies it out.
fmiStatus get_evaluated(fmiComponent c, fmiReal out[], size_t count, const EvaluatedArray& what) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  if (count > 0 && out == nullptr) return fmiError;
  if (m->initialized != 1) {
    log_status_message(m, m->instanceName, "", fmiError, "%s: comp is not initialized\n",
                       what.notInitialized);
    return fmiError;
  }
  fmiStatus status = fmiOK;
  const size_t n = count_to_copy(m, what.function, what.argument, count, m->*what.count, status);
  if (m->computedLevel < what.demand) {
    const int32_t QiErr = evaluate_model(*m, what.demand);
    if (QiErr != 0) {
      const fmiStatus failed = QiErr == 1 ? fmiDiscard : fmiError;
      log_status_message(m, m->instanceName, "", failed, "%s: dsblock_ failed, QiErr = %d\n",
                         what.function, QiErr);
      return failed;
    }
  }
  const double* values = m->*what.values;
  std::copy_n(values, n, out);
  return status;
}

}  // namespace

fmiStatus fmiGetDerivatives(fmiComponent c, fmiReal derivatives[], size_t nx) {
  return get_evaluated(c, derivatives, nx, Derivatives);
}

fmiStatus fmiGetEventIndicators(fmiComponent c, fmiReal eventIndicators[], size_t ni) {
  return get_evaluated(c, eventIndicators, ni, EventIndicators);
}

fmiStatus fmiEventUpdate(fmiComponent c, fmiBoolean, fmiEventInfo* eventInfo) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr || eventInfo == nullptr) return fmiError;
  if (m->initialized != 1) {
    log_status_message(m, m->instanceName, "", fmiError,
                       "fmiGetEventUpdate: comp is not initialized\n");
    return fmiError;
  }
  const int32_t QiErr = evaluate_model(*m, DemandEventUpdate);
  eventInfo->terminateSimulation = fmiFalse;
  if (QiErr == QiErrTerminate) {
    log_status_message(m, m->instanceName, "", fmiOK,
                       "fmiEventUpdate: simulation terminated by comp\n");
    eventInfo->terminateSimulation = fmiTrue;
    return fmiOK;
  }
  if (QiErr != 0) {
    log_status_message(m, m->instanceName, "", fmiError,
                       "fmiEventUpdate: dsblock_ failed, QiErr = %d\n", QiErr);
    return fmiError;
  }
  eventInfo->iterationConverged = fmiTrue;
  eventInfo->stateValuesChanged = fmiTrue;
  set_time_event(*eventInfo);
  return fmiOK;
}

fmiStatus fmiCompletedIntegratorStep(fmiComponent c, fmiBoolean* callEventUpdate) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr || callEventUpdate == nullptr) return fmiError;
  const double t = m->time;
  // The row holds the values as the last evaluation left them; nothing is evaluated here.
  if (result_file_is_open(*m) && on_result_grid(t) && m->lastResultTime < t)
    write_result_row(*m, t);
  *callEventUpdate = static_cast<fmiBoolean>(modelRuntime.callEventUpdate & 0xFF);
  return fmiOK;
}
