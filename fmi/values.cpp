// Values by value reference: decoding, the set and get functions and the state queries.
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <span>

#include "fmi/evaluation.h"
#include "fmi/fmi_functions.h"
#include "fmi/model_instance.h"
#include "model/variable_table.h"

namespace {

ModelInstance* as_instance(fmiComponent c) { return static_cast<ModelInstance*>(c); }

// A value reference: demand level in bits 28-31, variable kind in bits 24-27, index into the
// kind's value array in bits 0-23.
struct DecodedReference {
  int32_t level;
  int32_t kind;
  uint32_t index;
};

constexpr DecodedReference decode(fmiValueReference vr) {
  return {static_cast<int32_t>(vr >> 28), static_cast<int32_t>((vr >> 24) & 0xFu), vr & 0xFFFFFFu};
}

// The highest level a value request may carry: a request never runs an event update.
constexpr int32_t HighestValueLevel = 4;

// The value array of a kind, as long as the model's count (the spare element is not part of
// it). Empty for kinds that name no array.
std::span<double> kind_array(const ModelInstance& m, int32_t kind) {
  int nx = 0, nx2 = 0, nu = 0, ny = 0, nw = 0, np = 0, nrel = 0, n8 = 0, n9 = 0;
  get_model_sizes(&nx, &nx2, &nu, &ny, &nw, &np, &nrel, &n8, &n9);
  auto count = [](int n) { return n > 0 ? static_cast<size_t>(n) : size_t{0}; };
  switch (kind) {
    case KindParameter:
      return {m.parameters, count(np)};
    case KindState:
      return {m.states, m.nx};
    case KindDerivative:
      return {m.derivatives, m.nx};
    case KindOutput:
      return {m.outputs, count(ny)};
    case KindInput:
      return {m.inputs, count(nu)};
    case KindAuxiliary:
      return {m.auxiliaries, count(nw)};
    default:
      return {};
  }
}

// The element a reference names, or null when its kind names no array or its index lies
// outside the kind's array.
double* element(const ModelInstance& m, fmiValueReference vr) {
  const DecodedReference r = decode(vr);
  const std::span<double> values = kind_array(m, r.kind);
  return r.index < values.size() ? &values[r.index] : nullptr;
}

// Parameters, derivatives, outputs and auxiliaries are fixed once the instance is initialised.
bool fixed_after_initialization(int32_t kind) {
  return kind == KindParameter || kind == KindDerivative || kind == KindOutput ||
         kind == KindAuxiliary;
}

// Reports a rejected reference with the calling function's own message (a literal format in
// each caller, so the arguments are checked).
using ReferenceReport = void (*)(ModelInstance* m, fmiValueReference vr);
// Reports a failed evaluation with its status and QiErr.
using EvaluationReport = void (*)(ModelInstance* m, fmiStatus status, int32_t QiErr);
// Reports a count that differs from the instance's nx.
struct SetMessages {
  ReferenceReport cannotSet;
  ReferenceReport mayNotChange;
};

// Stores value i at reference i, in order; a rejected reference ends the call with the values
// of the earlier ones stored and computedLevel untouched. Completed: computedLevel := 0.
template <typename T, typename Convert>
fmiStatus set_values(fmiComponent c, const fmiValueReference vr[], size_t nvr, const T value[],
                     const SetMessages& text, Convert convert) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  if (nvr > 0 && (vr == nullptr || value == nullptr)) return fmiError;
  for (size_t i = 0; i < nvr; ++i) {
    double* target = element(*m, vr[i]);
    if (target == nullptr) {
      text.cannotSet(m, vr[i]);
      return fmiError;
    }
    if (fixed_after_initialization(decode(vr[i]).kind) && m->initialized != 0) {
      text.mayNotChange(m, vr[i]);
      return fmiError;
    }
    *target = convert(value[i]);
  }
  m->computedLevel = 0;
  return fmiOK;
}

struct GetMessages {
  const char* notInitialized;
  EvaluationReport dsblockFailed;
  ReferenceReport cannotGet;
  bool discardOnModelError;  // QiErr 1 gives fmiDiscard rather than fmiError
};

// Evaluates up to the highest level of the references unless computedLevel reaches it, then
// delivers value i from reference i, in order.
template <typename T, typename Convert>
fmiStatus get_values(fmiComponent c, const fmiValueReference vr[], size_t nvr, T value[],
                     const GetMessages& text, Convert convert) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  if (nvr > 0 && (vr == nullptr || value == nullptr)) return fmiError;
  if (m->initialized != 1) {
    log_status_message(m, m->instanceName, "", fmiError, "%s", text.notInitialized);
    return fmiError;
  }
  int32_t level = 0;
  for (size_t i = 0; i < nvr; ++i) {
    const int32_t l = decode(vr[i]).level;
    if (l > HighestValueLevel) {
      text.cannotGet(m, vr[i]);
      return fmiError;
    }
    if (l > level) level = l;
  }
  if (m->computedLevel < level) {
    const int32_t QiErr = evaluate_model(*m, level);
    if (QiErr != 0) {
      const fmiStatus status = QiErr == 1 && text.discardOnModelError ? fmiDiscard : fmiError;
      text.dsblockFailed(m, status, QiErr);
      return status;
    }
  }
  for (size_t i = 0; i < nvr; ++i) {
    const double* source = element(*m, vr[i]);
    if (source == nullptr) {
      text.cannotGet(m, vr[i]);
      return fmiError;
    }
    value[i] = convert(*source);
  }
  return fmiOK;
}

// Truncation toward zero, saturated at the int32 range; NaN gives 0.
int32_t to_int32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Copies the smaller of the two counts; a count that differs from nx is reported with
// fmiWarning.
template <typename T>
fmiStatus copy_state_sized(fmiComponent c, T* out, size_t nx, const T* in,
                           const char* function) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  if (nx > 0 && out == nullptr) return fmiError;
  fmiStatus status = fmiOK;
  const size_t n = count_to_copy(m, function, "nx", nx, m->nx, status);
  for (size_t i = 0; i < n; ++i) out[i] = in[i];
  return status;
}

// The reports as capture-free functions around one literal format each.
#define REFERENCE_REPORT(format)                                      \
  [](ModelInstance* m, fmiValueReference vr) {                        \
    log_status_message(m, m->instanceName, "", fmiError, format, vr); \
  }
#define EVALUATION_REPORT(format)                                      \
  [](ModelInstance* m, fmiStatus status, int32_t QiErr) {              \
    log_status_message(m, m->instanceName, "", status, format, QiErr); \
  }
constexpr fmiValueReference StateValueReferences[] = {0x02000000, 0x02000001, 0x02000002,
                                                      0x02000003};

}  // namespace

fmiStatus fmiSetContinuousStates(fmiComponent c, const fmiReal x[], size_t nx) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  if (nx > 0 && x == nullptr) return fmiError;
  fmiStatus status = fmiOK;
  const size_t n = count_to_copy(m, "fmiSetContinuousStates", "nx", nx, m->nx, status);
  for (size_t i = 0; i < n; ++i) m->states[i] = x[i];
  m->computedLevel = 0;
  return status;
}

fmiStatus fmiSetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                     const fmiReal value[]) {
  return set_values(c, vr, nvr, value,
                    {REFERENCE_REPORT("fmiSetReal: cannot set #r%u#  \n"),
                     REFERENCE_REPORT("fmiSetReal: may not change #r%u# after initialization\n")},
                    [](fmiReal v) { return v; });
}

fmiStatus fmiSetInteger(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        const fmiInteger value[]) {
  return set_values(
      c, vr, nvr, value,
      {REFERENCE_REPORT("fmiSetInteger: cannot set #i%u#  \n"),
       REFERENCE_REPORT("fmiSetInteger: may not change #i%u# after initialization\n")},
      [](fmiInteger v) { return static_cast<double>(v); });
}

fmiStatus fmiSetBoolean(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        const fmiBoolean value[]) {
  return set_values(
      c, vr, nvr, value,
      {REFERENCE_REPORT("fmiSetBoolean: cannot set #b%u#  \n"),
       REFERENCE_REPORT("fmiSetBoolean: may not change #b%u# after initialization\n")},
      [](fmiBoolean v) { return static_cast<double>(static_cast<signed char>(v)); });
}

fmiStatus fmiSetString(fmiComponent c, const fmiValueReference[], size_t, const fmiString[]) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  log_status_message(m, m->instanceName, "", fmiWarning, "fmiSetString: not supported\n");
  return fmiWarning;
}

fmiStatus fmiGetReal(fmiComponent c, const fmiValueReference vr[], size_t nvr, fmiReal value[]) {
  return get_values(c, vr, nvr, value,
                    {"fmiGetReal: comp is not initialized\n",
                     EVALUATION_REPORT("fmiGetReal: dsblock_ failed, QiErr = %d\n"),
                     REFERENCE_REPORT("fmiGetReal: cannot get r#%u#\n"), true},
                    [](double v) { return v; });
}

fmiStatus fmiGetInteger(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        fmiInteger value[]) {
  return get_values(c, vr, nvr, value,
                    {"fmiGetInteger: comp is not initialized\n",
                     EVALUATION_REPORT("fmiGetInteger: dsblock_ failed, QiErr = %d\n"),
                     REFERENCE_REPORT("fmiGetInteger: cannot get i#%u#\n"), false},
                    [](double v) { return static_cast<fmiInteger>(to_int32(v)); });
}

fmiStatus fmiGetBoolean(fmiComponent c, const fmiValueReference vr[], size_t nvr,
                        fmiBoolean value[]) {
  // The low byte of the truncated value: 1.0 gives 1; 0.0 and 0.5 give 0.
  return get_values(
      c, vr, nvr, value,
      {"fmiGetBoolean: comp is not initialized\n",
       EVALUATION_REPORT("fmiGetBoolean: dsblock_ failed, QiErr = %d\n"),
       REFERENCE_REPORT("fmiGetBoolean: cannot get b#%u#\n"), false},
      [](double v) { return static_cast<fmiBoolean>(static_cast<uint32_t>(to_int32(v)) & 0xFFu); });
}

fmiStatus fmiGetString(fmiComponent c, const fmiValueReference[], size_t, fmiString[]) {
  ModelInstance* m = as_instance(c);
  if (m == nullptr) return fmiError;
  log_status_message(m, m->instanceName, "", fmiWarning, "fmiGetString: not supported\n");
  return fmiWarning;
}

fmiStatus fmiGetContinuousStates(fmiComponent c, fmiReal states[], size_t nx) {
  const ModelInstance* m = as_instance(c);
  return copy_state_sized(c, states, nx, m ? m->states : nullptr, "fmiGetContinuousStates");
}

fmiStatus fmiGetNominalContinuousStates(fmiComponent c, fmiReal x_nominal[], size_t nx) {
  const ModelInstance* m = as_instance(c);
  return copy_state_sized(c, x_nominal, nx, m ? m->nominalStates : nullptr,
                          "fmiGetNominalContinuousStates");
}

fmiStatus fmiGetStateValueReferences(fmiComponent c, fmiValueReference vrx[], size_t nx) {
  // The table holds the four states of the model; never read beyond it.
  const ModelInstance* m = as_instance(c);
  if (m != nullptr && m->nx > std::size(StateValueReferences)) return fmiError;
  return copy_state_sized(c, vrx, nx, StateValueReferences, "fmiGetStateValueReferences");
}
