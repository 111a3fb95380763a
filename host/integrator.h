// SUNDIALS CVODE (BDF, dense Newton) with root finding, behind the few operations the run
// needs: start, a step towards a time, the states and their interpolation, a restart. No
// other file of the host sees CVODE.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// What the integrator evaluates. Each returns 0 when done, 1 when the model cannot be
// evaluated at that point (a smaller step may do), -1 on a failure. Neither may throw. The
// outputs dx and z are zeroed before each call: what the model leaves unset reads as 0.
struct Equations {
  void* model = nullptr;
  int (*derivatives)(void* model, double t, const double* x, double* dx) = nullptr;
  int (*indicators)(void* model, double t, const double* x, double* z) = nullptr;
};

struct IntegratorSettings {
  double tolerance = 1e-6;         // relative; the absolute one is it times each nominal
  double maxStep = 0.0;            // the longest step
  double firstStep = 0.0;          // the first step tried after a start or a restart
  bool printMessages = false;      // --log: CVODE's own messages as they come
};

// How a step ended.
struct StepResult {
  enum class End {
    Reached,  // a step of the integrator's own length
    Stopped,  // at the time it was to stop at
    Root,     // at a root of an event indicator
    Failed,
  };
  End end = End::Reached;
  // Failed: CVODE's name of the failure ("CV_CONV_FAILURE") and its last message.
  std::string failure;
  std::string message;
  // The event indicators could not be evaluated: a root function cannot ask for a smaller
  // step, so any status of the model but success fails the step.
  bool indicatorsFailed = false;
  // A failure that evaluations the model discarded can cause: CVODE gave up on the error
  // test, the corrector or the derivatives at every smaller step it tried.
  bool mayComeFromDiscards = false;
};

// Where a step that CVODE plans to take h long from t is to end at the latest.
using StepPlan = std::function<double(double t, double h)>;

class Integrator {
 public:
  // Makes what grows with the states, before the model is instantiated, so that a run whose
  // memory runs out leaves an earlier result file as it was: the vectors for n states, zeroed,
  // CVODE's memory block, the dense Jacobian and its linear solver, and the memory of the
  // solver's saved copy of the Jacobian. Throws HostError when it cannot.
  Integrator(size_t states, size_t indicators, Equations equations);
  ~Integrator();
  Integrator(const Integrator&) = delete;
  Integrator& operator=(const Integrator&) = delete;

  // The states, to be filled before start() and after an event that changed them.
  double* states();
  // Starts at t from the states; nominal holds each state's nominal value.
  void start(double t, const double* nominal, const IntegratorSettings& settings);
  // One step from t towards end, the run's stop time, ending where plan says at the latest; t
  // becomes the step's end. A first step after a start or a restart that CVODE gives up on
  // (its error test, its corrector or the model's discarded evaluations failing at every
  // shorter step it tries, as for a first step far beyond the model's time scale) is tried
  // again from the same states 1000 times shorter, down to 1e-6 s; the later restarts keep the
  // shorter one. A failure after the first step is the step's result.
  StepResult step(double end, double& t, const StepPlan& plan);
  // The states at t within the last step, from its interpolating polynomial.
  const double* interpolate(double t);
  // Starts again at t from the states, after an event.
  void restart(double t);

  // Steps completed since the last start or restart.
  long steps() const;

  static const char* version();

  // CVODE's message handler reports here.
  void note_message(int code, std::string message);

 private:
  // The step CVODE will try next: the first step set before the first one after a start or a
  // restart.
  double planned_step() const;
  // After a first step that failed (the states are still those of its start at t): starts
  // again there with a first step 1000 times shorter, 1e-6 s at the least. False where the
  // first step was that short already.
  bool restart_shorter(double t);
  static std::string flag_name(int flag);
  void check(int flag, const char* call) const;
  // A call that allocates: its flag memoryFailure (CV_MEM_FAIL, CVLS_MEM_FAIL) is out of
  // memory for what.
  void check_made(int flag, int memoryFailure, const char* call, const std::string& what) const;
  std::string square() const;
  void make_linear_solver();
  void give_back_saved_copy();

  struct Objects;
  std::unique_ptr<Objects> o_;
  double firstStep_ = 0.0;
  bool started_ = false;
  std::string lastMessage_;
  bool printMessages_ = false;
};
