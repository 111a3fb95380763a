// The model's instance and every FMI call the host makes on it. Each call is written once,
// here: the method makes it and checks its status. A warning is counted, the first described
// (the call, the time, the model's message), and the call's result stands. A discard of an
// evaluation at a point is counted and its messages kept: the integrator tries a smaller step.
// Any other status beyond fmiWarning is a failure, kept with the model's messages; it ends the
// run with one message, the model's report of the failure following it.
#pragma once

#include <string>

#include "host/assignments.h"
#include "host/fmi_library.h"
#include "host/model_description.h"
#include "host/model_messages.h"

class FmuInstance {
 public:
  FmuInstance(const FmiFunctions& fmi, const ModelDescription& description);
  // Terminates an initialised instance (so its result is complete) and frees it.
  ~FmuInstance() { release(); }
  FmuInstance(const FmuInstance&) = delete;
  FmuInstance& operator=(const FmuInstance&) = delete;

  // fmiInstantiateModel, with debug logging on.
  void instantiate();
  // fmiSetTime of the start time, before the initialisation.
  void set_start_time(double t);

  // The calls at a point, made from the integrator's callbacks: they never throw. fmiOK (also
  // after a warning), fmiDiscard, or the status of a failure, which failed() then holds.
  fmiStatus set_time(double t) noexcept;
  fmiStatus set_states(const double* x) noexcept;
  fmiStatus get_derivatives(double* dx) noexcept;
  fmiStatus get_indicators(double* z) noexcept;

  // The other calls end the run on a failure.
  void set_value(const ResolvedAssignment& a);
  void initialize(double tolerance, fmiEventInfo& info);
  void event_update(fmiEventInfo& info);
  // Whether the model asks for an event update.
  bool completed_step();
  void get_states(double* x);
  void get_nominal_states(double* x);
  // False where the model has none to give (fmiDiscard, fmiError); fmiFatal ends the run.
  bool get_state_references(fmiValueReference* vr);
  // fmiTerminate of an initialised instance.
  void terminate();
  // The end of a run that failed: fmiTerminate (where the instance may still be called) and
  // fmiFreeModelInstance, their status unchecked.
  void release() noexcept;

  size_t states() const { return nx_; }
  size_t indicators() const { return nz_; }
  long warnings() const { return warnings_; }
  const std::string& first_warning() const { return firstWarning_; }
  long discards() const { return discards_; }

  // A call of the model failed (not by a discard).
  bool failed() const { return !failure_.empty(); }

  // What the report of a failure shows of the model after the host's line.
  enum class Report {
    FailedCall,   // the line is the call that failed, else the last discarded one: what the
                  // model said in it follows
    LastDiscard,  // the host's reason; what the model said in its last discarded evaluation
    LogHint,      // the host's reason; the model's messages are for --log to show
    HostOnly,     // the host's reason alone: no call of the model failed (the integrator's own)
  };
  // Ends the run with one message (HostError): the host's line, then what the report shows of
  // the model where --log has not shown it already, then the calls that warned before.
  [[noreturn]] void fail(Report report, const std::string& why = {}) const;

 private:
  enum class Call;
  // Most calls succeed and say nothing: that check is inline.
  fmiStatus checked(Call call, fmiStatus status, const char* context = "") noexcept {
    return status == fmiOK && !call_said_anything() ? fmiOK : check(call, status, context);
  }
  fmiStatus check(Call call, fmiStatus status, const char* context) noexcept;
  void required(Call call, fmiStatus status, const char* context = "");
  fmiStatus time_call(Call call, double t) noexcept;
  fmiStatus terminate_call() noexcept;

  const FmiFunctions& fmi_;
  const ModelDescription& description_;
  fmiComponent c_ = nullptr;
  size_t nx_ = 0;
  size_t nz_ = 0;
  bool initialized_ = false;
  bool fatal_ = false;       // a call returned fmiFatal: only the free of the instance is left
  double time_ = 0.0;        // the model's time, as the host last set it
  long warnings_ = 0;
  std::string firstWarning_;
  long discards_ = 0;
  std::string lastDiscardCall_;  // the last discarded evaluation, and when
  CallMessages lastDiscard_;     // what the model said in it
  std::string failure_;  // the first call that failed (and when, for one at a point)
  CallMessages failureMessages_;  // what the model said in it
};
