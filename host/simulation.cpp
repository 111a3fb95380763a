#include "host/simulation.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "host/errors.h"
#include "host/fmu_instance.h"
#include "host/integrator.h"
#include "host/model_messages.h"
#include "host/numbers.h"

namespace {

// The model at the points the integrator asks for: the time and the states are handed over
// unless the model has them already, then its derivatives or event indicators are taken.
class PointModel {
 public:
  explicit PointModel(FmuInstance& fmu) : fmu_(fmu) {
    // The integrator's callbacks then never allocate.
    states_.reserve(fmu.states());
  }

  fmiStatus derivatives(double t, const double* x, double* dx) {
    const fmiStatus s = set_point(t, x);
    return s != fmiOK ? s : fmu_.get_derivatives(dx);
  }

  fmiStatus indicators(double t, const double* x, double* z) {
    fmiStatus s = set_point(t, x);
    if (s == fmiOK) s = fmu_.get_indicators(z);
    indicatorsHere_ = s == fmiOK;
    return s;
  }

  // Whether the model's event indicators (and with them every level of the model) were
  // evaluated at this point last.
  bool evaluated_at(double t, const double* x) const {
    return indicatorsHere_ && t == time_ && std::equal(x, x + fmu_.states(), states_.begin());
  }

  // After an event the model's values at the point are new.
  void forget() {
    time_ = std::numeric_limits<double>::quiet_NaN();
    indicatorsHere_ = false;
  }

  Equations equations() { return {this, derivatives_of, indicators_of}; }

 private:
  fmiStatus set_point(double t, const double* x) {
    if (t == time_ && std::equal(x, x + fmu_.states(), states_.begin())) return fmiOK;
    forget();
    fmiStatus s = fmu_.set_time(t);
    if (s == fmiOK) s = fmu_.set_states(x);
    if (s != fmiOK) return s;
    time_ = t;
    states_.assign(x, x + fmu_.states());
    return fmiOK;
  }

  // fmiDiscard: the model cannot be evaluated at this point; the integrator retries with a
  // smaller step.
  static int code(fmiStatus s) { return s == fmiOK ? 0 : s == fmiDiscard ? 1 : -1; }
  static int derivatives_of(void* self, double t, const double* x, double* dx) {
    return code(static_cast<PointModel*>(self)->derivatives(t, x, dx));
  }
  static int indicators_of(void* self, double t, const double* x, double* z) {
    return code(static_cast<PointModel*>(self)->indicators(t, x, z));
  }

  FmuInstance& fmu_;
  double time_ = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> states_;
  bool indicatorsHere_ = false;
};

class Run {
 public:
  Run(const FmiFunctions& fmi, const ModelDescription& description,
      const std::vector<ResolvedAssignment>& assignments, const SimulationSettings& settings,
      const std::function<void(double)>& progress)
      : description_(description),
        assignments_(assignments),
        s_(settings),
        progress_(progress),
        grid_(settings.start, settings.stop, settings.interval),
        timeScale_(time_scale(description)),
        fmu_(fmi, description),
        point_(fmu_),
        plan_([this](double t, double h) { return step_stop(t, h); }),
        indicators_(fmu_.indicators() + 1) {}

  SimulationSummary execute() {
    if (fmu_.states() == 0) throw HostError("the model has no continuous states to integrate");
    summary_.endTime = s_.start;
    if (interrupted()) return summary_;  // before anything is instantiated or written
    // Before the model: where the memory runs out, an earlier result file stays as it was.
    integrator_ = std::make_unique<Integrator>(fmu_.states(), fmu_.indicators(),
                                               point_.equations());
    summary_.started = true;
    double t = s_.start;
    if (!initialize()) return finish(t);
    start_integrator(t);
    while (t < s_.stop) {
      // A signal ends the run between steps, after the initialisation at the earliest.
      if (interrupted()) return finish(t);
      if (nextTimeEvent_ <= t) {  // a time event now: no integration to reach it
        if (!handle_event(t)) return finish(t);
        continue;
      }
      const StepResult step = integrator_->step(s_.stop, t, plan_);
      if (step.end == StepResult::End::Failed) fail_integration(step, t);
      const Passed passed = pass_output_points(t);
      if (passed == Passed::Stopped) return finish(t);
      if (passed == Passed::Restarted) continue;
      if (!end_step(t, step.end == StepResult::End::Root)) return finish(t);
      if (progress_) progress_(t);
    }
    return finish(t);
  }

 private:
  // Whether a signal asks the run to end; the summary names it.
  bool interrupted() {
    if (s_.interrupt == nullptr || *s_.interrupt == 0) return false;
    summary_.interruptedBy = *s_.interrupt;
    return true;
  }

  // Instantiation, the --set values and the initialisation with its event iteration; false
  // when the model asks to stop.
  bool initialize() {
    print_model_messages(s_.log);
    fmu_.instantiate();
    fmu_.set_start_time(s_.start);
    for (const ResolvedAssignment& a : assignments_) fmu_.set_value(a);
    fmiEventInfo info{};
    fmu_.initialize(s_.tolerance, info);
    summary_.rowsExpected.initialisation();
    if (s_.initialized) s_.initialized();
    return settle_events(info, s_.start);
  }

  // The integrator's own first step after a start can be tiny (some 1e-8 s when nothing moves
  // yet); a model that records each completed step near an output time would record such a
  // step as well. A thousandth of the output interval is still a cautious first try, and the error
  // test shortens it where the model needs that; but not a thousandth of a long interval
  // (1e4 s of 1e7 s), from which the error test cannot shorten it enough after an event:
  // a thousandth of the model's time scale at most.
  void start_integrator(double t) {
    fmu_.get_states(integrator_->states());
    std::vector<double> nominal(fmu_.states(), 1.0);
    fmu_.get_nominal_states(nominal.data());
    IntegratorSettings settings;
    settings.tolerance = s_.tolerance;
    settings.maxStep = s_.stop - s_.start;
    settings.firstStep = 1e-3 * std::min({s_.interval.seconds(), s_.stop - s_.start, timeScale_});
    settings.printMessages = s_.log;
    integrator_->start(t, nominal.data(), settings);
  }

  // The integrator takes its own steps; the stop time and time events end a step early. So does an
  // output point that the step of h from t would end just after: the step ends on it instead.
  // A step that would end just before one ends a little earlier. A model that records
  // completed steps near output times then sees one such step, not two a hair's breadth apart.
  double step_stop(double t, double h) const {
    const double stop = std::min(s_.stop, nextTimeEvent_);
    const double end = t + h;
    // A thousandth of the interval, of the model's time scale at most, as the first step.
    const double margin = 1e-3 * std::min(s_.interval.seconds(), timeScale_);
    const double point = grid_.point(std::max(nextPoint_, grid_.nearest(end)));
    if (point <= end && end - point < margin && point > t) return std::min(stop, point);
    if (point > end && point - end < margin && point - margin > t)
      return std::min(stop, point - margin);
    return stop;
  }

  enum class Passed { All, Restarted, Stopped };

  // The output points the step to t passed: the states there from the step's interpolating
  // polynomial, evaluated and completed like a step of their own. Where the model asks for an
  // event at one, the run goes on from that point (t becomes it); where it stops there, or a
  // signal ends the run there, t becomes the point as well.
  Passed pass_output_points(double& t) {
    while (nextOutput_ < t) {
      const double at = nextOutput_;
      reach_output_point();
      const double* x = integrator_->interpolate(at);
      if (complete_step(at, x)) {
        std::copy(x, x + fmu_.states(), integrator_->states());
        t = at;
        return handle_event(t) ? Passed::Restarted : Passed::Stopped;
      }
      // A long step can pass many points (a pendulum at rest: a million in one step): a
      // signal ends the run at the point, which the model has taken as its last step, and
      // the progress line moves on with the points.
      if (interrupted()) {
        t = at;
        return Passed::Stopped;
      }
      if (progress_) progress_(at);
    }
    return Passed::All;
  }

  // The end of a step at t, after its output points: the model records a completed step near
  // a whole millisecond with the values its last evaluation left, wherever the output points
  // lie, so the step's end is evaluated again (the root search's evaluation there serves when
  // it passed none). Then its events. False when the model asks to stop.
  bool end_step(double t, bool stateEvent) {
    const bool timeEvent = t >= nextTimeEvent_;
    const bool stepEvent = complete_step(t, integrator_->states());
    if ((stateEvent || timeEvent || stepEvent) && !handle_event(t)) return false;
    while (t >= nextOutput_) reach_output_point();  // the one it ended on
    return true;
  }

  void reach_output_point() {
    ++summary_.outputPoints;
    summary_.rowsExpected.output_point(nextOutput_);
    nextOutput_ = grid_.point(++nextPoint_);
  }

  // After each completed step and at each output point: the model is evaluated at the point
  // (unless the last evaluation was there) and told that the step is done. Whether it asks
  // for an event update.
  bool complete_step(double t, const double* x) {
    if (!point_.evaluated_at(t, x) && point_.indicators(t, x, indicators_.data()) != fmiOK)
      fmu_.fail(FmuInstance::Report::FailedCall);
    return fmu_.completed_step();
  }

  // An event at t: the event update until it settles, new states, the integrator restarted.
  bool handle_event(double t) {
    ++summary_.events;
    // A model that keeps asking for events at the same time would hold the run there for ever.
    eventsAtTime_ = t == lastEventTime_ ? eventsAtTime_ + 1 : 0;
    lastEventTime_ = t;
    if (eventsAtTime_ == 1000)
      fmu_.fail(FmuInstance::Report::LogHint,
                "the model asks for event after event at t = " + std::to_string(t) + " s");
    fmiEventInfo info{};
    fmu_.event_update(info);
    if (!settle_events(info, t)) return false;
    if (info.stateValuesChanged) fmu_.get_states(integrator_->states());
    summary_.steps += integrator_->steps();
    integrator_->restart(t);
    return true;
  }

  // The event iteration after initialisation or an event update; false when the model asks
  // to stop.
  bool settle_events(fmiEventInfo& info, double t) {
    for (int pass = 0; !info.iterationConverged; ++pass) {
      if (info.terminateSimulation) break;
      if (pass == 1000)
        fmu_.fail(FmuInstance::Report::LogHint,
                  "the event iteration at t = " + std::to_string(t) + " s does not end");
      fmu_.event_update(info);
    }
    point_.forget();
    if (info.terminateSimulation) {
      summary_.stoppedByModel = true;
      return false;
    }
    nextTimeEvent_ = info.upcomingTimeEvent ? info.nextEventTime
                                            : std::numeric_limits<double>::infinity();
    return true;
  }

  // A step that failed at t. A failed call of the model ends the run with that call; so does
  // a discard of the event indicators, since a root function cannot ask for a smaller step.
  // After discarded evaluations the report shows the last one where the failure is one they
  // can cause. Otherwise no call of the model failed: the failure is the integrator's own,
  // which another tolerance may get past.
  [[noreturn]] void fail_integration(const StepResult& step, double t) const {
    using Report = FmuInstance::Report;
    if (fmu_.failed() || step.indicatorsFailed) fmu_.fail(Report::FailedCall);
    std::string why = "the integrator failed at " + time_text(t) + " (" + step.failure + ")";
    if (fmu_.discards() > 0) {
      why += ": the model discarded its evaluation " + std::to_string(fmu_.discards()) +
             " times, also with smaller steps";
      fmu_.fail(step.mayComeFromDiscards ? Report::LastDiscard : Report::LogHint, why);
    }
    char tolerance[40];
    std::snprintf(tolerance, sizeof tolerance, "%g", s_.tolerance);
    why += ", no call of the model failed";
    if (!step.message.empty()) why += ": " + step.message;
    why += std::string(" (another --tolerance than ") + tolerance + " may get it through)";
    fmu_.fail(Report::HostOnly, why);
  }

  // The end of the run at t: the final states by name, the model terminated (so its result is
  // complete) and freed.
  SimulationSummary finish(double t) {
    if (integrator_) summary_.steps += integrator_->steps();
    summary_.endTime = t;
    std::vector<double> x(fmu_.states());
    std::vector<fmiValueReference> vr(fmu_.states());
    fmu_.get_states(x.data());
    // The states' names are only for the summary: without them they are numbered.
    if (!fmu_.get_state_references(vr.data())) vr.clear();
    for (size_t i = 0; i < x.size(); ++i) {
      const ScalarVariable* v =
          i < vr.size() ? description_.base_of(VariableType::Real, vr[i]) : nullptr;
      summary_.finalStates.emplace_back(v ? v->name : "state " + std::to_string(i + 1), x[i]);
    }
    fmu_.terminate();
    fmu_.release();
    summary_.warnings = fmu_.warnings();
    summary_.firstWarning = fmu_.first_warning();
    return summary_;
  }

  const ModelDescription& description_;
  const std::vector<ResolvedAssignment>& assignments_;
  const SimulationSettings& s_;
  const std::function<void(double)>& progress_;
  const OutputGrid grid_;
  const double timeScale_;
  FmuInstance fmu_;
  PointModel point_;
  std::unique_ptr<Integrator> integrator_;
  const StepPlan plan_;
  SimulationSummary summary_;
  long long nextPoint_ = 0;  // the index of the next output point
  double nextOutput_ = grid_.point(0);
  double nextTimeEvent_ = std::numeric_limits<double>::infinity();
  double lastEventTime_ = std::numeric_limits<double>::quiet_NaN();
  int eventsAtTime_ = 0;
  // Where complete_step's evaluation puts the event indicators, which the host never reads
  // (the root finding has the integrator's array, zeroed for each call): zeroed once, so that the
  // model is handed no uninitialised memory.
  std::vector<double> indicators_;
};

}  // namespace

SimulationSummary simulate(const FmiFunctions& fmi, const ModelDescription& description,
                           const std::vector<ResolvedAssignment>& assignments,
                           const SimulationSettings& settings,
                           const std::function<void(double)>& progress) {
  Run run(fmi, description, assignments, settings, progress);
  return run.execute();
}
