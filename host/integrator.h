// SUNDIALS CVODE (BDF, dense Newton) with root finding, behind the few operations the run
// needs: start, a step towards a time, the states and their interpolation, a restart.
#pragma once

#include <cstddef>
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

  // The bytes a run with these counts takes for its integrator, at most: the dense Jacobian
  // and the linear solver's saved copy of it (8·n² bytes each), some 40 vectors of n values,
  // the root finding's arrays of the indicators.
  static double memory_needed(size_t states, size_t indicators);
  // Refuses (HostError) counts whose integrator would take more than half of the memory given:
  // such a run would take the memory of everything else on the machine, or be killed for it.
  // The memory is this machine's, or what the process's cgroup allows (cgroupLimit).
  static void check_counts(size_t states, size_t indicators, double memory,
                           bool cgroupLimit = false);
  // The same for this machine's physical memory, or the limit of the process's cgroup where
  // that is smaller.
  static void check_counts(size_t states, size_t indicators);
  // This machine's physical memory in bytes; infinity where it cannot be told.
  static double physical_memory();

  // The smallest relative tolerance CVODE can meet at every state: its unit roundoff.
  static double smallest_tolerance();

  // The states, to be filled before start() and after an event that changed them.
  double* states();
  // Starts at t from the states; nominal holds each state's nominal value.
  void start(double t, const double* nominal, const IntegratorSettings& settings);
  // One step, ending at stopAt at the latest; end is the run's stop time. t becomes the step's
  // end. CVODE's flag: CV_SUCCESS, CV_TSTOP_RETURN, CV_ROOT_RETURN, or a failure (negative).
  int step(double stopAt, double end, double& t);
  // The states at t within the last step, from its interpolating polynomial.
  const double* interpolate(double t);
  // Starts again at t from the states, after an event.
  void restart(double t);
  // After a first step that failed (the states are still those of its start at t): starts
  // again there with a first step 1000 times shorter, shortest at the least, which the later
  // restarts keep. False where the first step was that short already.
  bool restart_shorter(double t, double shortest);

  // The step CVODE will try next; 0 before the first step after a start or a restart.
  double next_step() const;
  double first_step() const { return firstStep_; }
  // Steps completed since the last start or restart.
  long steps() const;

  // CVODE's name of a flag, and its last message.
  static std::string flag_name(int flag);
  const std::string& last_message() const { return lastMessage_; }

  static const char* version();

  // CVODE's message handler reports here.
  void note_message(int code, std::string message);

 private:
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
