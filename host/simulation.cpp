#include "host/simulation.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "host/replay.h"

namespace {

// ---- Messages of the model ---------------------------------------------------------------

// The host logger has no user pointer: the one simulation of the process keeps its settings
// and the messages held back for an error report here.
struct LogSink {
  bool print = false;                 // --log: every message as it comes
  std::vector<std::string> withheld;  // otherwise: what arrived, for the next error report
  std::string lastWarning;            // the last message logged with status fmiWarning
};
LogSink logSink;

std::string without_line_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// An FMI 1.0 logger formats its message with the arguments that follow it, as printf does.
void host_logger(fmiComponent, fmiString instanceName, fmiStatus status, fmiString category,
                 fmiString message, ...) {
  char buffer[8192];
  buffer[0] = '\0';
  if (message != nullptr) {
    va_list args;
    va_start(args, message);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(buffer, sizeof buffer, message, args);
#pragma GCC diagnostic pop
    va_end(args);
  }
  try {
    const std::string text = without_line_end(buffer);
    if (in_replay()) {
      replay_message(status, text);
      return;
    }
    if (status == fmiWarning) logSink.lastWarning = text;
    if (logSink.print) {
      std::fprintf(stderr, "[%s] [%s] %s: %s\n", status_name(status), category ? category : "",
                   instanceName ? instanceName : "", text.c_str());
      std::fflush(stderr);
    } else {
      logSink.withheld.push_back(text);
    }
  } catch (...) {
    // Out of memory: the message is lost, the model's call goes on.
  }
}

std::vector<std::string> take_withheld() {
  std::vector<std::string> messages;
  messages.swap(logSink.withheld);
  return messages;
}

std::string joined(const std::vector<std::string>& texts, const char* separator) {
  std::string text;
  for (const std::string& t : texts) text += (text.empty() ? "" : separator) + t;
  return text;
}

std::string time_text(double t) {
  char text[64];
  std::snprintf(text, sizeof text, "t = %.17g s", t);
  return text;
}

// ---- Assignments ---------------------------------------------------------------------------

const char* type_name(VariableType t) {
  switch (t) {
    case VariableType::Real: return "Real";
    case VariableType::Integer: return "Integer";
    case VariableType::Boolean: return "Boolean";
    case VariableType::String: return "String";
    case VariableType::Enumeration: return "Enumeration";
  }
  return "?";
}

}  // namespace

ResolvedAssignment resolve_assignment(const ModelDescription& description, const Assignment& a) {
  const ScalarVariable* v = description.find(a.name);
  if (v == nullptr) throw UsageError("unknown variable " + a.name);
  const ScalarVariable* base =
      v->aliasSign == 0 ? v : description.base_of(v->type, v->valueReference);
  if (base == nullptr) throw HostError(a.name + " is an alias of a variable the model lacks");
  if (base->variability == "constant") throw UsageError(a.name + " is a constant");
  if (!base->start)
    throw UsageError(a.name +
                     " has no start value: it is computed by the model and cannot be set");
  ResolvedAssignment r;
  r.variable = v;
  r.type = v->type;
  r.valueReference = v->valueReference;
  const bool negated = v->aliasSign < 0;
  auto bad_value = [&]() {
    return UsageError("--set " + a.name + ": \"" + a.value + "\" is no " + type_name(v->type) +
                      " value");
  };
  switch (v->type) {
    case VariableType::Real: {
      const std::optional<double> value = parse_real(a.value);
      if (!value) throw bad_value();
      r.real = negated ? -*value : *value;
      break;
    }
    case VariableType::Integer: {
      int32_t value = 0;
      const char* first = a.value.data();
      const char* last = first + a.value.size();
      const auto result = std::from_chars(first, last, value);
      if (a.value.empty() || result.ec != std::errc() || result.ptr != last) throw bad_value();
      if (negated && value == INT32_MIN) throw bad_value();
      r.integer = negated ? -value : value;
      break;
    }
    case VariableType::Boolean: {
      bool value;
      if (a.value == "true" || a.value == "1")
        value = true;
      else if (a.value == "false" || a.value == "0")
        value = false;
      else
        throw bad_value();
      r.boolean = (negated ? !value : value) ? fmiTrue : fmiFalse;
      break;
    }
    default:
      throw UsageError("--set " + a.name + ": " + type_name(v->type) +
                       " variables cannot be set");
  }
  return r;
}

namespace {

// ---- The output grid -----------------------------------------------------------------------

// The model records a row at each completed step within 1e-7 s of a whole millisecond. The
// output points are the whole multiples of the interval (itself a whole number of
// milliseconds) after the start time, up to the stop time; each is its count of milliseconds
// divided by 1000, the double nearest to that millisecond.
class OutputGrid {
 public:
  OutputGrid(double start, double stop, double interval)
      : stop_(stop), snap_(1e-6 * interval) {
    const std::optional<long long> ms = interval_milliseconds(interval);
    if (!ms) {
      char text[120];
      std::snprintf(text, sizeof text,
                    "the output interval %.17g s is no whole number of milliseconds", interval);
      throw HostError(text);
    }
    // Far enough for any run, near enough that the millisecond counts stay exact. The command
    // line's times are checked as it is read: these come from the model's default experiment.
    if (!(std::fabs(start) <= FarthestTime && std::fabs(stop) <= FarthestTime))
      throw HostError("the start and stop times must lie within 1e9 s of 0 (the output grid "
                      "counts milliseconds)");
    step_ = *ms;
    // The first multiple after the start (the quotient's rounding is corrected).
    const double startMs = 1000.0 * start;
    first_ = (static_cast<long long>(std::floor(startMs / static_cast<double>(step_))) + 1) * step_;
    while (at(first_ - step_) > start) first_ -= step_;
    while (at(first_) <= start) first_ += step_;
    // A start within the model's 1e-7 s of it has its row already, from the initialisation.
    if (static_cast<double>(first_) - startMs < 1e-4) first_ += step_;
  }

  // The k-th point (k >= 0); a point within a millionth of an interval of the stop time is the
  // stop time, a later one lies past the run (infinity).
  double point(long long k) const {
    const double t = at(first_ + k * step_);
    if (t > stop_ + snap_) return std::numeric_limits<double>::infinity();
    return t >= stop_ - snap_ ? stop_ : t;
  }

  // The index of the point nearest to t (negative before the first).
  long long nearest(double t) const {
    return std::llround((1000.0 * t - static_cast<double>(first_)) / static_cast<double>(step_));
  }

 private:
  static double at(long long milliseconds) { return static_cast<double>(milliseconds) / 1000.0; }

  double stop_;
  double snap_;
  long long step_ = 1;   // the interval in ms
  long long first_ = 0;  // the first point in ms
};

// ---- The model behind CVODE's callbacks ---------------------------------------------------

struct Model {
  explicit Model(const FmiFunctions& functions) : fmi(functions) {}
  const FmiFunctions& fmi;
  fmiComponent c = nullptr;
  size_t nx = 0;
  size_t nz = 0;
  bool log = false;  // --log: the model's messages were shown as they came
  InterruptFlag interrupt = nullptr;  // a signal's flag, which ends a replay
  // The point last handed to the model and whether its event indicators (and with them every
  // level of the model) were evaluated there; a request at the same point sets nothing again.
  double pointTime = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> pointStates;
  bool indicatorsAtPoint = false;
  // A failure inside a callback, reported after CVODE returns (callbacks must not throw), with
  // the call that failed.
  std::string failure;
  ReplayRequest failedCall;
  long discards = 0;
  ReplayRequest lastDiscard;  // the last call that returned fmiDiscard
  bool fatal = false;         // a call returned fmiFatal: only the free of the instance is left
  // Calls that returned fmiWarning and the first one: which call, when, and what it said.
  long warnings = 0;
  std::string firstWarning;

  void forget_point() {
    pointTime = std::numeric_limits<double>::quiet_NaN();
    indicatorsAtPoint = false;
  }

  // The calls at a point: how each is made again.
  enum class PointCall { SetTime, SetContinuousStates, GetDerivatives, GetEventIndicators };

  ReplayRequest point_request(PointCall which, double t, const double* x) const {
    ReplayRequest r;
    const FmiFunctions& f = fmi;
    const size_t n = nx, m = nz;
    switch (which) {
      case PointCall::SetTime:
        r.call = "fmiSetTime";
        r.again = [&f, t](fmiComponent c) { return f.SetTime(c, t); };
        break;
      case PointCall::SetContinuousStates:
        r.call = "fmiSetContinuousStates";
        r.again = [&f, states = std::vector<double>(x, x + n)](fmiComponent c) {
          return f.SetContinuousStates(c, states.data(), states.size());
        };
        break;
      case PointCall::GetDerivatives:
        r.call = "fmiGetDerivatives";
        r.again = [&f, n](fmiComponent c) {
          std::vector<double> out(n + 1);
          return f.GetDerivatives(c, out.data(), n);
        };
        break;
      case PointCall::GetEventIndicators:
        r.call = "fmiGetEventIndicators";
        r.again = [&f, m](fmiComponent c) {
          std::vector<double> out(m + 1);
          return f.GetEventIndicators(c, out.data(), m);
        };
        break;
    }
    r.atPoint = true;
    r.time = t;
    r.states.assign(x, x + n);
    return r;
  }

  // Hands the point to the model unless it is the one it has.
  fmiStatus set_point(double t, const double* x) {
    if (t == pointTime && std::equal(x, x + nx, pointStates.begin())) return fmiOK;
    forget_point();
    fmiStatus s = fmi.SetTime(c, t);
    if (s != fmiOK && (s = unusual(PointCall::SetTime, s, t, x)) != fmiOK) return s;
    s = fmi.SetContinuousStates(c, x, nx);
    if (s != fmiOK && (s = unusual(PointCall::SetContinuousStates, s, t, x)) != fmiOK) return s;
    pointTime = t;
    pointStates.assign(x, x + nx);
    return fmiOK;
  }

  // A call at a point returned s, not fmiOK: a warning is counted and the call's result stands
  // (fmiOK is returned); fmiDiscard is counted, a failure kept for the report. Never throws.
  fmiStatus unusual(PointCall which, fmiStatus s, double t, const double* x) noexcept {
    try {
      if (s == fmiWarning) {
        if (warnings == 0) warned(point_request(which, t, x), t);
        ++warnings;
        return fmiOK;
      }
      if (s == fmiDiscard) {
        ++discards;
        lastDiscard = point_request(which, t, x);
        return s;
      }
      if (s == fmiFatal) fatal = true;
      if (failure.empty()) {
        failedCall = point_request(which, t, x);
        failedCall.fresh = true;
        failure = failedCall.call + " returned " + status_name(s) + " at " + time_text(t);
      }
    } catch (...) {
      // Out of memory: the status still counts.
      if (s == fmiWarning) return fmiOK;
      if (s == fmiFatal) fatal = true;
    }
    return s;
  }

  // Describes the first warning: the call, the time, and the model's message. Without --log the
  // model forwarded none (it does so for fmiError and worse only): the call is made again with
  // debug logging on. Never throws.
  void warned(const ReplayRequest& r, double t) noexcept {
    try {
      firstWarning = r.call + " at " + time_text(t);
      std::vector<std::string> said;
      std::string problem;  // why the replay shows nothing
      if (!logSink.lastWarning.empty()) {
        said.push_back(logSink.lastWarning);
      } else if (!log) {
        ReplayRequest again = r;
        again.atPoint = false;  // the model is where the call left it
        const ReplayOutcome o = replay_on_instance(fmi, c, again, interrupt);
        for (const auto& [status, text] : o.messages)
          if (status == fmiWarning) said.push_back(text);
        if (said.empty())
          for (const auto& [status, text] : o.messages) said.push_back(text);
        if (!o.ended) problem = o.problem;
      }
      const std::string message = joined(message_lines(said), "; ");
      firstWarning += !message.empty()  ? ": " + cut_line(message)
                      : problem.empty() ? " (the model gave no message)"
                                        : " (no message: " + problem + ")";
    } catch (...) {
    }
  }

  fmiStatus derivatives(double t, const double* x, double* dx) {
    fmiStatus s = set_point(t, x);
    if (s != fmiOK) return s;
    s = fmi.GetDerivatives(c, dx, nx);
    return s == fmiOK ? s : unusual(PointCall::GetDerivatives, s, t, x);
  }

  fmiStatus indicators(double t, const double* x, double* z) {
    fmiStatus s = set_point(t, x);
    if (s != fmiOK) return s;
    s = fmi.GetEventIndicators(c, z, nz);
    if (s != fmiOK && (s = unusual(PointCall::GetEventIndicators, s, t, x)) != fmiOK) return s;
    indicatorsAtPoint = true;
    return fmiOK;
  }
};

// fmiDiscard: the model cannot be evaluated at this point; CVODE retries with a smaller step.
int rhs(sunrealtype t, N_Vector y, N_Vector ydot, void* data) {
  Model& m = *static_cast<Model*>(data);
  const fmiStatus s = m.derivatives(t, N_VGetArrayPointer(y), N_VGetArrayPointer(ydot));
  return s == fmiOK ? 0 : s == fmiDiscard ? 1 : -1;
}

int roots(sunrealtype t, N_Vector y, sunrealtype* gout, void* data) {
  Model& m = *static_cast<Model*>(data);
  const fmiStatus s = m.indicators(t, N_VGetArrayPointer(y), gout);
  if (s == fmiDiscard && m.failure.empty()) {
    try {
      m.failedCall = m.lastDiscard;
      m.failure = "fmiGetEventIndicators returned fmiDiscard at " + time_text(t);
    } catch (...) {
    }
  }
  return s == fmiOK ? 0 : -1;
}

// CVODE's own messages: kept for the error report (and printed with --log).
void cvode_messages(int code, const char* module, const char* function, char* message,
                    void* data) {
  try {
    std::string& last = *static_cast<std::string*>(data);
    last = std::string(module ? module : "CVODE") + " " + (function ? function : "") + ": " +
           (message ? message : "");
    if (logSink.print)
      std::fprintf(stderr, "[%s] %s\n", code < 0 ? "error" : "warning", last.c_str());
  } catch (...) {
    // Out of memory: the message is lost; nothing may be thrown through CVODE.
  }
}

// ---- SUNDIALS objects ----------------------------------------------------------------------

struct Integrator {
  SUNContext context = nullptr;
  N_Vector y = nullptr;
  N_Vector output = nullptr;  // the states at an output point
  N_Vector absoluteTolerance = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  void* cvode = nullptr;
  std::string lastMessage;

  ~Integrator() {
    if (cvode) CVodeFree(&cvode);
    if (solver) SUNLinSolFree(solver);
    if (matrix) SUNMatDestroy(matrix);
    if (absoluteTolerance) N_VDestroy(absoluteTolerance);
    if (output) N_VDestroy(output);
    if (y) N_VDestroy(y);
    if (context) SUNContext_Free(&context);
  }
  double* states() { return N_VGetArrayPointer(y); }
};

// CVODE's name of a return flag; SUNDIALS allocates the text, which is given back here.
std::string flag_name(int flag) {
  char* name = CVodeGetReturnFlagName(flag);
  const std::string text = name ? name : "unknown flag " + std::to_string(flag);
  std::free(name);
  return text;
}

void check(int flag, const char* call, const Integrator& integrator) {
  if (flag < 0)
    throw HostError(std::string("CVODE: ") + call + " failed: " +
                    (integrator.lastMessage.empty() ? flag_name(flag) : integrator.lastMessage));
}

// ---- The run -------------------------------------------------------------------------------

// Calls made again in a replay.
struct EventUpdateAgain {
  const FmiFunctions* fmi;
  fmiStatus operator()(fmiComponent c) const {
    fmiEventInfo info{};
    return fmi->EventUpdate(c, fmiFalse, &info);
  }
};

struct GetStatesAgain {
  const FmiFunctions* fmi;
  size_t nx;
  fmiStatus operator()(fmiComponent c) const {
    std::vector<double> out(nx + 1);
    return fmi->GetContinuousStates(c, out.data(), nx);
  }
};

// How near to an output point, in output intervals, a step may end without ending on it.
constexpr double OutputMargin = 1e-3;

class Run {
 public:
  Run(const Fmu& fmu, const SimulationSettings& settings,
      const std::function<void(double)>& progress)
      : fmu_(fmu),
        fmi_(fmu.fmi()),
        s_(settings),
        progress_(progress),
        grid_(settings.start, settings.stop, settings.interval),
        model_(fmu.fmi()) {}

  ~Run() {
    if (model_.c != nullptr) fmi_.FreeModelInstance(model_.c);
  }

  SimulationSummary execute() {
    const ModelDescription& d = fmu_.description();
    for (const Assignment& a : s_.assignments) assignments_.push_back(resolve_assignment(d, a));
    model_.nx = d.numberOfContinuousStates;
    model_.nz = d.numberOfEventIndicators;
    if (model_.nx == 0) throw HostError("the model has no continuous states to integrate");
    // CVODE's callbacks then never allocate: nothing may be thrown through CVODE.
    model_.pointStates.reserve(model_.nx);

    summary_.endTime = s_.start;
    if (interrupted()) return summary_;  // before anything is instantiated or written
    summary_.started = true;

    logSink = LogSink{};
    logSink.print = s_.log;
    model_.log = s_.log;
    model_.interrupt = s_.interrupt;
    model_.c = instantiate(s_.log ? fmiTrue : fmiFalse);
    if (model_.c == nullptr) {
      ReplayRequest instantiation;
      instantiation.call = "fmiInstantiateModel";
      instantiation.fresh = true;
      fail("the model could not be instantiated", &instantiation);
    }
    reached_ = Reached::Instance;
    call("fmiSetTime", fmi_.SetTime(model_.c, s_.start), s_.start,
         [this](fmiComponent c) { return fmi_.SetTime(c, s_.start); });
    reached_ = Reached::StartTime;
    for (const ResolvedAssignment& a : assignments_) {
      assign(a);
      ++assigned_;
    }

    fmiEventInfo info{};
    call("fmiInitialize", fmi_.Initialize(model_.c, fmiFalse, s_.tolerance, &info), s_.start,
         [this](fmiComponent c) {
           fmiEventInfo again{};
           return fmi_.Initialize(c, fmiFalse, s_.tolerance, &again);
         });
    initialized_ = true;
    reached_ = Reached::Initialized;
    double t = s_.start;
    if (!settle_events(info, t)) return finish(t);

    setup_integrator(t);
    long long k = 0;  // the next output point's index
    double nextOutput = grid_.point(k);
    while (t < s_.stop) {
      // A signal ends the run between steps, after the initialisation at the earliest.
      if (interrupted()) return finish(t);
      if (nextTimeEvent_ <= t) {  // a time event now: no integration to reach it
        if (!handle_event(t)) return finish(t);
        continue;
      }
      check(CVodeSetStopTime(integrator_.cvode, step_stop(t, k)), "CVodeSetStopTime",
            integrator_);
      const int flag = CVode(integrator_.cvode, s_.stop, integrator_.y, &t, CV_ONE_STEP);
      if (flag < 0) integration_failed(flag, t);
      // The output points the step passed: the states there from the step's interpolating
      // polynomial, evaluated and completed like a step of their own.
      bool restarted = false;
      while (nextOutput < t) {
        const double at = nextOutput;
        ++summary_.outputPoints;
        nextOutput = grid_.point(++k);
        check(CVodeGetDky(integrator_.cvode, at, 0, integrator_.output), "CVodeGetDky",
              integrator_);
        completed_step(at, N_VGetArrayPointer(integrator_.output));
        if (callEventUpdate_) {
          // The model asks for an event there: the run goes on from that point.
          N_VScale(1.0, integrator_.output, integrator_.y);
          t = at;
          if (!handle_event(t)) return finish(t);
          restarted = true;
          break;
        }
        // A long step can pass many points (a pendulum at rest: a million in one step): a
        // signal ends the run at the point, which the model has taken as its last step.
        if (interrupted()) return finish(at);
      }
      if (restarted) continue;
      const bool stateEvent = flag == CV_ROOT_RETURN;
      const bool timeEvent = t >= nextTimeEvent_;
      // The model records a completed step near a whole millisecond with the values its last
      // evaluation left, wherever the output points lie: the step's end is evaluated again
      // after the output points (the root search's evaluation there serves when it passed
      // none).
      completed_step(t, integrator_.states());
      if (stateEvent || timeEvent || callEventUpdate_) {
        if (!handle_event(t)) return finish(t);
      }
      while (t >= nextOutput) {  // the point the step ended on
        ++summary_.outputPoints;
        nextOutput = grid_.point(++k);
      }
      if (progress_) progress_(t);
    }
    return finish(t);
  }

 private:
  // The stages of a run that a replay on a new instance goes through before its call.
  enum class Reached { Nothing, Instance, StartTime, Initialized };

  fmiComponent instantiate(fmiBoolean loggingOn) {
    const ModelDescription& d = fmu_.description();
    const fmiCallbackFunctions callbacks{host_logger, std::calloc, std::free};
    return fmi_.InstantiateModel(d.modelIdentifier.c_str(), d.guid.c_str(), callbacks, loggingOn);
  }

  // Whether a signal asks the run to end; the summary names it.
  bool interrupted() {
    if (s_.interrupt == nullptr || *s_.interrupt == 0) return false;
    summary_.interruptedBy = *s_.interrupt;
    return true;
  }

  // Ends the run. Without --log the model's messages below fmiError were not even written:
  // the failing call is made again with debug logging on (replay) and what the model says then
  // follows the host's line, indented.
  [[noreturn]] void fail(const std::string& what, const ReplayRequest* replay = nullptr) {
    const std::vector<std::string> withheld = take_withheld();
    std::string text = withheld.empty() ? what : what + ": " + joined(withheld, "; ");
    if (!s_.log) {
      if (replay != nullptr && replay->again == nullptr && !replay->fresh) replay = nullptr;
      if (replay == nullptr) {
        text += failure_report(nullptr, withheld);
      } else {
        const ReplayOutcome outcome = replay_failure(*replay);
        text += failure_report(&outcome, withheld);
      }
    }
    if (model_.warnings > 0)
      text += "\n  before it " + std::to_string(model_.warnings) +
              " calls returned fmiWarning, the first " + model_.firstWarning;
    throw HostError(text);
  }

  // The replay of a failed call: on the run's instance where it may still be called
  // (fmiDiscard), else on a new one, which the library allows only once the run's is freed.
  ReplayOutcome replay_failure(const ReplayRequest& r) {
    if (!r.fresh) return replay_on_instance(fmi_, model_.c, r, s_.interrupt);
    terminate();
    const Reached reached = reached_;
    return run_replay([&]() -> fmiStatus {
      if (reached == Reached::Nothing) {
        replay_capture(true);
        return instantiate(fmiTrue) != nullptr ? fmiOK : fmiError;
      }
      const fmiComponent c = instantiate(fmiTrue);
      if (c == nullptr) replay_setup_failed("fmiInstantiateModel returned no instance");
      auto step = [](const std::string& call, fmiStatus status) {
        if (status > fmiWarning) replay_setup_failed(call + " returned " + status_name(status));
      };
      if (reached >= Reached::StartTime) step("fmiSetTime", fmi_.SetTime(c, s_.start));
      for (size_t i = 0; i < assigned_; ++i)
        step("setting " + assignments_[i].variable->name, set_value(c, assignments_[i]));
      if (reached >= Reached::Initialized) {
        fmiEventInfo info{};
        step("fmiInitialize", fmi_.Initialize(c, fmiFalse, s_.tolerance, &info));
      }
      replay_capture(true);
      if (r.atPoint) {
        fmi_.SetTime(c, r.time);
        fmi_.SetContinuousStates(c, r.states.data(), r.states.size());
      }
      return r.again(c);
    }, s_.interrupt);
  }

  // The point of a call outside CVODE's callbacks: the time, and the states once the
  // integrator holds them.
  ReplayRequest request(const char* name, Again again, double t, const double* x) {
    ReplayRequest r;
    r.call = name;
    r.again = std::move(again);
    r.time = t;
    if (x == nullptr && reached_ == Reached::Initialized && integrator_.y != nullptr)
      x = integrator_.states();
    if (x != nullptr) {
      r.atPoint = true;
      r.states.assign(x, x + model_.nx);
    }
    return r;
  }

  // The status of a call made at time t (and states x, else the integrator's) outside CVODE's
  // callbacks: a warning is counted, a failure ends the run with the model's report. again
  // makes the call once more; it is looked at only when the status is not fmiOK.
  template <class AgainCall>
  void call(const char* name, fmiStatus status, double t, AgainCall&& again,
            const char* context = "", const double* x = nullptr) {
    if (status == fmiOK) return;
    ReplayRequest r = request(name, Again(std::forward<AgainCall>(again)), t, x);
    if (status == fmiWarning) {
      if (model_.warnings++ == 0) model_.warned(r, t);
      return;
    }
    if (status == fmiFatal) model_.fatal = true;
    // Up to the initialisation a new instance goes the same way; after fmiError or fmiFatal
    // the run's own must not be called again.
    r.fresh = status != fmiDiscard || reached_ != Reached::Initialized;
    fail(std::string(context) + name + " returned " + status_name(status), &r);
  }

  fmiStatus set_value(fmiComponent c, const ResolvedAssignment& a) const {
    const fmiValueReference vr[] = {a.valueReference};
    switch (a.type) {
      case VariableType::Real: return fmi_.SetReal(c, vr, 1, &a.real);
      case VariableType::Integer: return fmi_.SetInteger(c, vr, 1, &a.integer);
      case VariableType::Boolean: return fmi_.SetBoolean(c, vr, 1, &a.boolean);
      default: return fmiOK;
    }
  }

  void assign(const ResolvedAssignment& a) {
    const fmiStatus status = set_value(model_.c, a);
    if (status == fmiOK) return;
    const char* name = a.type == VariableType::Real      ? "fmiSetReal"
                       : a.type == VariableType::Integer ? "fmiSetInteger"
                                                         : "fmiSetBoolean";
    const std::string context = "setting " + a.variable->name + ": ";
    call(name, status, s_.start, [this, &a](fmiComponent c) { return set_value(c, a); },
         context.c_str());
  }

  // The event iteration after initialisation or an event update; false when the model asks
  // to stop.
  bool settle_events(fmiEventInfo& info, double t) {
    for (int pass = 0; !info.iterationConverged; ++pass) {
      if (info.terminateSimulation) break;
      if (pass == 1000) fail("the event iteration at t = " + std::to_string(t) + " s does not end");
      call("fmiEventUpdate", fmi_.EventUpdate(model_.c, fmiFalse, &info), t,
           EventUpdateAgain{&fmi_});
    }
    model_.forget_point();
    if (info.terminateSimulation) {
      summary_.stoppedByModel = true;
      return false;
    }
    nextTimeEvent_ = info.upcomingTimeEvent ? info.nextEventTime
                                            : std::numeric_limits<double>::infinity();
    return true;
  }

  void setup_integrator(double t) {
    Integrator& in = integrator_;
    const sunindextype n = static_cast<sunindextype>(model_.nx);
    if (SUNContext_Create(nullptr, &in.context) != 0) fail("SUNDIALS: no context");
    in.y = N_VNew_Serial(n, in.context);
    in.output = N_VNew_Serial(n, in.context);
    in.absoluteTolerance = N_VNew_Serial(n, in.context);
    if (!in.y || !in.output || !in.absoluteTolerance) fail("SUNDIALS: out of memory");
    call("fmiGetContinuousStates", fmi_.GetContinuousStates(model_.c, in.states(), model_.nx), t,
         GetStatesAgain{&fmi_, model_.nx});
    std::vector<double> nominal(model_.nx, 1.0);
    call("fmiGetNominalContinuousStates",
         fmi_.GetNominalContinuousStates(model_.c, nominal.data(), model_.nx), t,
         [this](fmiComponent c) {
           std::vector<double> out(model_.nx + 1);
           return fmi_.GetNominalContinuousStates(c, out.data(), model_.nx);
         });
    for (size_t i = 0; i < model_.nx; ++i)
      NV_Ith_S(in.absoluteTolerance, i) =
          s_.tolerance * std::fabs(nominal[i] != 0.0 ? nominal[i] : 1.0);
    in.cvode = CVodeCreate(CV_BDF, in.context);
    if (!in.cvode) fail("CVODE: out of memory");
    check(CVodeSetErrHandlerFn(in.cvode, cvode_messages, &in.lastMessage), "CVodeSetErrHandlerFn",
          in);
    check(CVodeInit(in.cvode, rhs, t, in.y), "CVodeInit", in);
    check(CVodeSetUserData(in.cvode, &model_), "CVodeSetUserData", in);
    check(CVodeSVtolerances(in.cvode, s_.tolerance, in.absoluteTolerance), "CVodeSVtolerances", in);
    in.matrix = SUNDenseMatrix(n, n, in.context);
    in.solver = SUNLinSol_Dense(in.y, in.matrix, in.context);
    if (!in.matrix || !in.solver) fail("SUNDIALS: out of memory");
    check(CVodeSetLinearSolver(in.cvode, in.solver, in.matrix), "CVodeSetLinearSolver", in);
    if (model_.nz > 0)
      check(CVodeRootInit(in.cvode, static_cast<int>(model_.nz), roots), "CVodeRootInit", in);
    check(CVodeSetMaxNumSteps(in.cvode, 100000), "CVodeSetMaxNumSteps", in);
    check(CVodeSetMaxStep(in.cvode, s_.stop - s_.start), "CVodeSetMaxStep", in);
    set_first_step();
  }

  // CVODE's own first step after a start can be tiny (some 1e-8 s when nothing moves yet); a
  // model that records each completed step near an output time would record such a step as
  // well. A thousandth of the output interval is still a cautious first try, and the error
  // test shortens it where the model needs that.
  void set_first_step() {
    firstStep_ = 1e-3 * std::min(s_.interval, s_.stop - s_.start);
    check(CVodeSetInitStep(integrator_.cvode, firstStep_), "CVodeSetInitStep", integrator_);
  }

  // CVODE takes its own steps; the stop time and time events end a step early. So does an
  // output point that the next step would end just after: the step ends on it instead. A step
  // that would end just before one ends a little earlier. A model that records completed steps
  // near output times then sees one such step, not two a hair's breadth apart. k is the index
  // of the next output point. Before the first step after a start or an event CVODE knows no
  // step yet: it will try the first step set here.
  double step_stop(double t, long long k) {
    const double stop = std::min(s_.stop, nextTimeEvent_);
    sunrealtype h = 0.0;
    if (CVodeGetCurrentStep(integrator_.cvode, &h) != CV_SUCCESS) return stop;
    if (!(h > 0.0)) h = firstStep_;
    const double end = t + h;
    const double margin = OutputMargin * s_.interval;
    const double point = grid_.point(std::max(k, grid_.nearest(end)));
    if (point <= end && end - point < margin && point > t) return std::min(stop, point);
    if (point > end && point - end < margin && point - margin > t)
      return std::min(stop, point - margin);
    return stop;
  }

  [[noreturn]] void integration_failed(int flag, double t) {
    if (!model_.failure.empty()) fail(model_.failure, &model_.failedCall);
    std::string why = "the integrator failed at " + time_text(t) + " (" + flag_name(flag) + ")";
    if (model_.discards > 0) {
      why += ": the model discarded its evaluation " + std::to_string(model_.discards) +
             " times, also with smaller steps";
      // CVODE gave up after evaluations the model discarded: the last one shows why.
      const bool discarded = flag == CV_CONV_FAILURE || flag == CV_REPTD_RHSFUNC_ERR ||
                             flag == CV_RHSFUNC_FAIL || flag == CV_UNREC_RHSFUNC_ERR ||
                             flag == CV_FIRST_RHSFUNC_ERR || flag == CV_ERR_FAILURE;
      if (discarded) fail(why, &model_.lastDiscard);
    } else if (!integrator_.lastMessage.empty()) {
      why += ": " + integrator_.lastMessage;
    }
    fail(why);
  }

  // After each completed step and at each output point: the model is evaluated at the point
  // (unless the last evaluation was there) and told that the step is done.
  void completed_step(double t, const double* x) {
    if (!(model_.indicatorsAtPoint && t == model_.pointTime &&
          std::equal(x, x + model_.nx, model_.pointStates.begin()))) {
      indicators_.resize(model_.nz + 1);
      if (model_.indicators(t, x, indicators_.data()) != fmiOK) {
        if (!model_.failure.empty()) fail(model_.failure, &model_.failedCall);
        fail("fmiGetEventIndicators returned fmiDiscard at " + time_text(t), &model_.lastDiscard);
      }
    }
    fmiBoolean callEventUpdate = fmiFalse;
    const fmiStatus status = fmi_.CompletedIntegratorStep(model_.c, &callEventUpdate);
    if (status != fmiOK) {
      call("fmiCompletedIntegratorStep", status, t, [this](fmiComponent c) {
        fmiBoolean again = fmiFalse;
        return fmi_.CompletedIntegratorStep(c, &again);
      }, "", x);
    }
    callEventUpdate_ = callEventUpdate != fmiFalse;
  }

  // An event at t: the event update until it settles, new states, the integrator restarted.
  bool handle_event(double t) {
    ++summary_.events;
    // A model that keeps asking for events at the same time would hold the run there for ever.
    eventsAtTime_ = t == lastEventTime_ ? eventsAtTime_ + 1 : 0;
    lastEventTime_ = t;
    if (eventsAtTime_ == 1000)
      fail("the model asks for event after event at t = " + std::to_string(t) + " s");
    callEventUpdate_ = false;
    fmiEventInfo info{};
    call("fmiEventUpdate", fmi_.EventUpdate(model_.c, fmiFalse, &info), t,
         EventUpdateAgain{&fmi_});
    if (!settle_events(info, t)) return false;
    if (info.stateValuesChanged)
      call("fmiGetContinuousStates",
           fmi_.GetContinuousStates(model_.c, integrator_.states(), model_.nx), t,
           GetStatesAgain{&fmi_, model_.nx});
    summary_.steps += steps_so_far();
    check(CVodeReInit(integrator_.cvode, t, integrator_.y), "CVodeReInit", integrator_);
    set_first_step();
    return true;
  }

  long steps_so_far() {
    long steps = 0;
    if (integrator_.cvode) CVodeGetNumSteps(integrator_.cvode, &steps);
    return steps;
  }

  SimulationSummary finish(double t) {
    summary_.steps += steps_so_far();
    summary_.endTime = t;
    std::vector<double> x(model_.nx);
    std::vector<fmiValueReference> vr(model_.nx);
    call("fmiGetContinuousStates", fmi_.GetContinuousStates(model_.c, x.data(), model_.nx), t,
         GetStatesAgain{&fmi_, model_.nx});
    // The states' names are only for the summary: without them they are numbered. After
    // fmiFatal the instance may only be freed, and the run has failed.
    const fmiStatus references = fmi_.GetStateValueReferences(model_.c, vr.data(), model_.nx);
    if (references > fmiWarning) vr.clear();
    if (references == fmiWarning || references == fmiFatal)
      call("fmiGetStateValueReferences", references, t, [this](fmiComponent c) {
        std::vector<fmiValueReference> out(model_.nx + 1);
        return fmi_.GetStateValueReferences(c, out.data(), model_.nx);
      });
    for (size_t i = 0; i < x.size(); ++i) {
      const ScalarVariable* v =
          i < vr.size() ? fmu_.description().base_of(VariableType::Real, vr[i]) : nullptr;
      summary_.finalStates.emplace_back(v ? v->name : "state " + std::to_string(i + 1), x[i]);
    }
    // The result is complete only when the model terminates as it should.
    if (initialized_) {
      const fmiStatus terminated = fmi_.Terminate(model_.c);
      initialized_ = false;
      call("fmiTerminate", terminated, t, [this](fmiComponent c) { return fmi_.Terminate(c); });
    }
    terminate();
    summary_.warnings = model_.warnings;
    summary_.firstWarning = model_.firstWarning;
    return summary_;
  }

 public:
  // Terminates an initialised instance (so its result is complete) and frees it. After
  // fmiFatal only the free is left.
  void terminate() {
    if (model_.c == nullptr) return;
    if (initialized_ && !model_.fatal) fmi_.Terminate(model_.c);
    initialized_ = false;
    fmi_.FreeModelInstance(model_.c);
    model_.c = nullptr;
  }

 private:
  const Fmu& fmu_;
  const FmiFunctions& fmi_;
  const SimulationSettings& s_;
  const std::function<void(double)>& progress_;
  const OutputGrid grid_;
  Model model_;
  std::vector<ResolvedAssignment> assignments_;
  size_t assigned_ = 0;  // the assignments made so far
  Reached reached_ = Reached::Nothing;
  Integrator integrator_;
  SimulationSummary summary_;
  double nextTimeEvent_ = std::numeric_limits<double>::infinity();
  double lastEventTime_ = std::numeric_limits<double>::quiet_NaN();
  int eventsAtTime_ = 0;
  std::vector<double> indicators_;
  bool callEventUpdate_ = false;
  bool initialized_ = false;
  double firstStep_ = 0.0;  // the first step tried after a start or an event
};

}  // namespace

SimulationSummary simulate(const Fmu& fmu, const SimulationSettings& settings,
                           const std::function<void(double)>& progress) {
  Run run(fmu, settings, progress);
  try {
    return run.execute();
  } catch (...) {
    run.terminate();  // the result written so far stays readable
    throw;
  }
}
