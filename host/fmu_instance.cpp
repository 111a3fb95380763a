#include "host/fmu_instance.h"

#include <cstdlib>
#include <utility>

#include "host/errors.h"
#include "host/numbers.h"

// The calls made through the status check, with their names, and whether they are made at a
// point of the integration (the failure then says when, and a discard is the integrator's to
// handle).
enum class FmuInstance::Call {
  SetTime, SetContinuousStates, GetDerivatives, GetEventIndicators, SetReal, SetInteger,
  SetBoolean, Initialize, EventUpdate, CompletedIntegratorStep, GetContinuousStates,
  GetNominalContinuousStates, GetStateValueReferences, Terminate, SetStartTime
};

namespace {

struct CallName {
  const char* name;
  bool atPoint;
};

constexpr CallName CallNames[] = {
    {"fmiSetTime", true},
    {"fmiSetContinuousStates", true},
    {"fmiGetDerivatives", true},
    {"fmiGetEventIndicators", true},
    {"fmiSetReal", false},
    {"fmiSetInteger", false},
    {"fmiSetBoolean", false},
    {"fmiInitialize", false},
    {"fmiEventUpdate", false},
    {"fmiCompletedIntegratorStep", false},
    {"fmiGetContinuousStates", false},
    {"fmiGetNominalContinuousStates", false},
    {"fmiGetStateValueReferences", false},
    {"fmiTerminate", false},
    {"fmiSetTime", false},
};

}  // namespace

FmuInstance::FmuInstance(const FmiFunctions& fmi, const ModelDescription& description)
    : fmi_(fmi),
      description_(description),
      nx_(description.numberOfContinuousStates),
      nz_(description.numberOfEventIndicators) {}

fmiStatus FmuInstance::check(Call call, fmiStatus status, const char* context) noexcept {
  if (status == fmiOK) {
    drop_call_messages();
    return fmiOK;
  }
  const CallName& c = CallNames[static_cast<int>(call)];
  if (status == fmiFatal) fatal_ = true;
  try {
    CallMessages said = take_call_messages();
    if (status == fmiWarning) {
      if (warnings_++ == 0) {
        const std::string message = warning_text(said);
        firstWarning_ = c.name + (" at " + time_text(time_)) +
                        (message.empty() ? " (the model gave no message)" : ": " + message);
      }
      return fmiOK;
    }
    if (status == fmiDiscard && c.atPoint) {
      ++discards_;
      lastDiscardCall_ = c.name + (" returned fmiDiscard at " + time_text(time_));
      lastDiscard_ = std::move(said);
      return status;
    }
    if (failure_.empty()) {
      failure_ = std::string(context) + c.name + " returned " + status_name(status);
      if (c.atPoint) failure_ += " at " + time_text(time_);
      failureMessages_ = std::move(said);
    }
  } catch (...) {
    // Out of memory: the status still counts, the description of it is lost.
    if (status == fmiWarning) return fmiOK;
  }
  return status;
}

void FmuInstance::required(Call call, fmiStatus status, const char* context) {
  if (checked(call, status, context) != fmiOK) fail(Report::FailedCall);
}

void FmuInstance::instantiate() {
  const fmiCallbackFunctions callbacks{host_logger, std::calloc, std::free};
  c_ = fmi_.InstantiateModel(description_.modelIdentifier.c_str(), description_.guid.c_str(),
                             callbacks, fmiTrue);
  CallMessages said = take_call_messages();
  if (c_ != nullptr) return;
  failure_ = "the model could not be instantiated";
  failureMessages_ = std::move(said);
  fail(Report::FailedCall);
}

fmiStatus FmuInstance::time_call(Call call, double t) noexcept {
  time_ = t;
  return checked(call, fmi_.SetTime(c_, t));
}

fmiStatus FmuInstance::set_time(double t) noexcept { return time_call(Call::SetTime, t); }

void FmuInstance::set_start_time(double t) {
  if (time_call(Call::SetStartTime, t) != fmiOK) fail(Report::FailedCall);
}

fmiStatus FmuInstance::set_states(const double* x) noexcept {
  return checked(Call::SetContinuousStates, fmi_.SetContinuousStates(c_, x, nx_));
}

fmiStatus FmuInstance::get_derivatives(double* dx) noexcept {
  return checked(Call::GetDerivatives, fmi_.GetDerivatives(c_, dx, nx_));
}

fmiStatus FmuInstance::get_indicators(double* z) noexcept {
  return checked(Call::GetEventIndicators, fmi_.GetEventIndicators(c_, z, nz_));
}

void FmuInstance::set_value(const ResolvedAssignment& a) {
  const fmiValueReference vr[] = {a.valueReference};
  const std::string context = "setting " + a.variable->name + ": ";
  const char* with = context.c_str();
  switch (a.type) {
    case VariableType::Real:
      return required(Call::SetReal, fmi_.SetReal(c_, vr, 1, &a.real), with);
    case VariableType::Integer:
      return required(Call::SetInteger, fmi_.SetInteger(c_, vr, 1, &a.integer), with);
    case VariableType::Boolean:
      return required(Call::SetBoolean, fmi_.SetBoolean(c_, vr, 1, &a.boolean), with);
    default:
      return;  // refused when the assignment was resolved
  }
}

void FmuInstance::initialize(double tolerance, fmiEventInfo& info) {
  required(Call::Initialize, fmi_.Initialize(c_, fmiFalse, tolerance, &info));
  initialized_ = true;
}

void FmuInstance::event_update(fmiEventInfo& info) {
  required(Call::EventUpdate, fmi_.EventUpdate(c_, fmiFalse, &info));
}

bool FmuInstance::completed_step() {
  fmiBoolean callEventUpdate = fmiFalse;
  required(Call::CompletedIntegratorStep, fmi_.CompletedIntegratorStep(c_, &callEventUpdate));
  return callEventUpdate != fmiFalse;
}

void FmuInstance::get_states(double* x) {
  required(Call::GetContinuousStates, fmi_.GetContinuousStates(c_, x, nx_));
}

void FmuInstance::get_nominal_states(double* x) {
  required(Call::GetNominalContinuousStates, fmi_.GetNominalContinuousStates(c_, x, nx_));
}

bool FmuInstance::get_state_references(fmiValueReference* vr) {
  const fmiStatus status = fmi_.GetStateValueReferences(c_, vr, nx_);
  if (status == fmiDiscard || status == fmiError) {
    drop_call_messages();
    return false;
  }
  required(Call::GetStateValueReferences, status);
  return true;
}

void FmuInstance::terminate() {
  if (!initialized_) return;
  required(Call::Terminate, terminate_call());
}

fmiStatus FmuInstance::terminate_call() noexcept {
  initialized_ = false;
  return fmi_.Terminate(c_);
}

void FmuInstance::release() noexcept {
  if (c_ == nullptr) return;
  if (initialized_ && !fatal_) terminate_call();
  initialized_ = false;
  fmi_.FreeModelInstance(c_);
  c_ = nullptr;
  drop_call_messages();
}

// Without --log the messages of fmiError and fmiFatal follow the host's line as a host without
// debug logging would see them, then the model's other lines.
void FmuInstance::fail(Report report, const std::string& why) const {
  std::string text = why;
  const CallMessages* said = nullptr;
  if (report == Report::FailedCall) {
    const bool failedCall = !failure_.empty();
    text = failedCall                  ? failure_
           : lastDiscardCall_.empty() ? "a call of the model failed"
                                      : lastDiscardCall_;
    said = failedCall ? &failureMessages_ : &lastDiscard_;
  }
  if (report == Report::LastDiscard) said = &lastDiscard_;
  if (report != Report::HostOnly && !printing_model_messages()) {
    if (said == nullptr) {
      text += " (--log shows the model's messages)";
    } else {
      if (const std::string errors = error_messages(*said); !errors.empty())
        text += ": " + errors;
      text += report_lines(*said);
    }
  }
  if (warnings_ > 0)
    text += "\n  before it " + std::to_string(warnings_) +
            " calls returned fmiWarning, the first " + firstWarning_;
  throw HostError(text);
}
