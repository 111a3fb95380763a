#include "host/integrator.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <cvode/cvode.h>
#include <cvode/cvode_ls.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_config.h>
#include <sundials/sundials_context.h>
#include <sundials/sundials_types.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "host/cgroup_memory.h"
#include "host/console.h"
#include "host/errors.h"
#include "host/time_texts.h"

namespace {

// What CVODE's callbacks get: the equations and the length of the indicator array.
struct CallbackData {
  Equations equations;
  size_t indicators = 0;
};

}  // namespace

struct Integrator::Objects {
  CallbackData data;
  SUNContext context = nullptr;
  N_Vector y = nullptr;
  N_Vector output = nullptr;  // the states at an interpolated point
  N_Vector absoluteTolerance = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  SUNMatrix savedCopy = nullptr;  // holds the memory of the linear solver's copy until start
  void* cvode = nullptr;

  ~Objects() {
    if (cvode) CVodeFree(&cvode);
    if (savedCopy) SUNMatDestroy(savedCopy);
    if (solver) SUNLinSolFree(solver);
    if (matrix) SUNMatDestroy(matrix);
    if (absoluteTolerance) N_VDestroy(absoluteTolerance);
    if (output) N_VDestroy(output);
    if (y) N_VDestroy(y);
    if (context) SUNContext_Free(&context);
  }
};

namespace {

// CVODE's vectors hold what its last use left: the model's outputs start from zeros, so
// values the model leaves unset are 0, not whatever was there.
int rhs(sunrealtype t, N_Vector y, N_Vector ydot, void* data) {
  const Equations& e = static_cast<const CallbackData*>(data)->equations;
  double* dx = N_VGetArrayPointer(ydot);
  std::fill_n(dx, N_VGetLength(ydot), 0.0);
  return e.derivatives(e.model, t, N_VGetArrayPointer(y), dx);
}

// A root function cannot ask for a smaller step: anything but success is a failure.
int roots(sunrealtype t, N_Vector y, sunrealtype* gout, void* data) {
  const CallbackData& d = *static_cast<const CallbackData*>(data);
  std::fill_n(gout, d.indicators, 0.0);
  return d.equations.indicators(d.equations.model, t, N_VGetArrayPointer(y), gout) == 0 ? 0 : -1;
}

// CVODE's own messages: the last is kept for the error report (all printed with --log).
void cvode_messages(int code, const char* module, const char* function, char* message,
                    void* data) {
  try {
    Integrator* integrator = static_cast<Integrator*>(data);
    integrator->note_message(code, std::string(module ? module : "CVODE") + " " +
                                       (function ? function : "") + ": " +
                                       (message ? message : ""));
  } catch (...) {
    // Out of memory: the message is lost; nothing may be thrown through CVODE.
  }
}

// Bytes as the messages give them: "25.6 GB".
std::string gigabytes(double bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3g GB", bytes / 1e9);
  return text;
}

N_Vector new_vector(sunindextype n, SUNContext context, const char* what) {
  N_Vector v = N_VNew_Serial(n, context);
  if (v == nullptr)
    throw HostError(std::string("out of memory for the integrator's ") + what + " (" +
                    std::to_string(n) + " values)");
  N_VConst(0.0, v);
  return v;
}

}  // namespace

Integrator::Integrator(size_t states, size_t indicators, Equations equations)
    : o_(std::make_unique<Objects>()) {
  o_->data = {equations, indicators};
  const sunindextype n = static_cast<sunindextype>(states);
  if (SUNContext_Create(nullptr, &o_->context) != 0)
    throw HostError("out of memory for the integrator's SUNDIALS context");
  o_->y = new_vector(n, o_->context, "states");
  o_->output = new_vector(n, o_->context, "interpolated states");
  o_->absoluteTolerance = new_vector(n, o_->context, "absolute tolerances");
  o_->cvode = CVodeCreate(CV_BDF, o_->context);
  if (!o_->cvode) throw HostError("out of memory for CVODE's memory block");
  check(CVodeSetErrHandlerFn(o_->cvode, cvode_messages, this), "CVodeSetErrHandlerFn");
  make_linear_solver();
}

Integrator::~Integrator() = default;

double Integrator::memory_needed(size_t states, size_t indicators) {
  constexpr double DenseMatrices = 2;  // the Jacobian and the linear solver's saved copy
  // CVODE's history of order 5 and its work vectors, the linear solver's vectors and pivots,
  // the host's own copies.
  constexpr double StateVectors = 40;
  // CVODE's values at both ends of the root search, the root's, its flags; the host's copy.
  constexpr double IndicatorArrays = 8;
  const double n = static_cast<double>(states);
  const double nz = static_cast<double>(indicators);
  return DenseMatrices * 8.0 * n * (n + 1.0) + StateVectors * 8.0 * n + IndicatorArrays * 8.0 * nz;
}

void Integrator::check_counts(size_t states, size_t indicators, double memory,
                              bool cgroupLimit) {
  const double needed = memory_needed(states, indicators);
  if (needed <= memory / 2.0) return;
  throw HostError("modelDescription.xml: " + std::to_string(states) +
                  " continuous states and " + std::to_string(indicators) +
                  " event indicators would take " + gigabytes(needed) +
                  " for the integrator (its dense Jacobian grows with the square of the "
                  "states), more than half of " +
                  (cgroupLimit ? "the " + gigabytes(memory) +
                                     " of memory that the cgroup of this process allows"
                               : "this machine's " + gigabytes(memory) + " of memory"));
}

void Integrator::check_counts(size_t states, size_t indicators) {
  const double machine = physical_memory();
  const double cgroup = cgroup_memory_limit();
  check_counts(states, indicators, std::min(machine, cgroup), cgroup < machine);
}

double Integrator::physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::numeric_limits<double>::infinity();
  return static_cast<double>(pages) * static_cast<double>(pageSize);
}

// CVODE refuses a step whose states cannot be held to the tolerance (CV_TOO_MUCH_ACC): the
// unit roundoff times the states' weighted norm must stay below 1, which every state meets
// when the relative tolerance is at least the unit roundoff.
double Integrator::smallest_tolerance() { return SUN_UNIT_ROUNDOFF; }

double* Integrator::states() { return N_VGetArrayPointer(o_->y); }

void Integrator::start(double t, const double* nominal, const IntegratorSettings& settings) {
  printMessages_ = settings.printMessages;
  firstStep_ = settings.firstStep;
  const sunindextype n = N_VGetLength(o_->y);
  for (sunindextype i = 0; i < n; ++i)
    NV_Ith_S(o_->absoluteTolerance, i) =
        settings.tolerance * std::fabs(nominal[i] != 0.0 ? nominal[i] : 1.0);
  check_made(CVodeInit(o_->cvode, rhs, t, o_->y), CV_MEM_FAIL, "CVodeInit",
             "CVODE's vectors (" + std::to_string(n) + " states)");
  check(CVodeSetUserData(o_->cvode, &o_->data), "CVodeSetUserData");
  check_made(CVodeSVtolerances(o_->cvode, settings.tolerance, o_->absoluteTolerance),
             CV_MEM_FAIL, "CVodeSVtolerances", "CVODE's absolute tolerances");
  const size_t nz = o_->data.indicators;
  if (nz > 0)
    check_made(CVodeRootInit(o_->cvode, static_cast<int>(nz), roots), CV_MEM_FAIL,
               "CVodeRootInit",
               "CVODE's root finding (" + std::to_string(nz) + " event indicators)");
  check(CVodeSetMaxNumSteps(o_->cvode, 100000), "CVodeSetMaxNumSteps");
  check(CVodeSetMaxStep(o_->cvode, settings.maxStep), "CVodeSetMaxStep");
  check(CVodeSetInitStep(o_->cvode, firstStep_), "CVodeSetInitStep");
  check_made(CVodeSetLinearSolver(o_->cvode, o_->solver, o_->matrix), CVLS_MEM_FAIL,
             "CVodeSetLinearSolver", "the linear solver's vectors");
  give_back_saved_copy();  // last: see there
  started_ = true;
}

// At its first step the linear solver clones the Jacobian for its saved copy, and SUNDIALS
// uses a clone that failed (SIGSEGV). A matrix of that size, made here, holds the memory for
// it until the integrator starts.
void Integrator::make_linear_solver() {
  const sunindextype n = N_VGetLength(o_->y);
  o_->matrix = SUNDenseMatrix(n, n, o_->context);
  if (!o_->matrix) throw HostError("out of memory for the integrator's dense Jacobian " + square());
  o_->solver = SUNLinSol_Dense(o_->y, o_->matrix, o_->context);
  if (!o_->solver)
    throw HostError("out of memory for the dense linear solver's pivots (" + std::to_string(n) +
                    " values)");
  o_->savedCopy = SUNDenseMatrix(n, n, o_->context);
  if (!o_->savedCopy)
    throw HostError("out of memory for the saved copy of the integrator's dense Jacobian " +
                    square());
}

// Given back for the clone at the first step: nothing is allocated from here to it.
void Integrator::give_back_saved_copy() {
  SUNMatDestroy(o_->savedCopy);
  o_->savedCopy = nullptr;
}

std::string Integrator::square() const {
  const std::string n = std::to_string(N_VGetLength(o_->y));
  return "(" + n + " x " + n + ")";
}

int Integrator::step(double stopAt, double end, double& t) {
  check(CVodeSetStopTime(o_->cvode, stopAt), "CVodeSetStopTime");
  return CVode(o_->cvode, end, o_->y, &t, CV_ONE_STEP);
}

const double* Integrator::interpolate(double t) {
  check(CVodeGetDky(o_->cvode, t, 0, o_->output), "CVodeGetDky");
  return N_VGetArrayPointer(o_->output);
}

void Integrator::restart(double t) {
  check(CVodeReInit(o_->cvode, t, o_->y), "CVodeReInit");
  check(CVodeSetInitStep(o_->cvode, firstStep_), "CVodeSetInitStep");
}

bool Integrator::restart_shorter(double t, double shortest) {
  const double shorter = std::max(firstStep_ / 1000.0, shortest);
  if (!(shorter < firstStep_)) return false;
  if (printMessages_)
    print_err("[retry] tavelo-sim: the first step of %s from %s failed: again with %s\n",
              seconds_text(firstStep_).c_str(), time_text(t).c_str(),
              seconds_text(shorter).c_str());
  firstStep_ = shorter;
  restart(t);
  return true;
}

double Integrator::next_step() const {
  sunrealtype h = 0.0;
  if (!started_ || CVodeGetCurrentStep(o_->cvode, &h) != CV_SUCCESS) return 0.0;
  return h;
}

long Integrator::steps() const {
  long steps = 0;
  if (started_) CVodeGetNumSteps(o_->cvode, &steps);
  return steps;
}

// SUNDIALS allocates the text, which is given back here.
std::string Integrator::flag_name(int flag) {
  char* name = CVodeGetReturnFlagName(flag);
  const std::string text = name ? name : "unknown flag " + std::to_string(flag);
  std::free(name);
  return text;
}

void Integrator::note_message(int code, std::string message) {
  if (printMessages_) print_err("[%s] %s\n", code < 0 ? "error" : "warning", message.c_str());
  lastMessage_ = std::move(message);
}

const char* Integrator::version() { return SUNDIALS_VERSION; }

void Integrator::check(int flag, const char* call) const {
  if (flag < 0)
    throw HostError(std::string("CVODE: ") + call + " failed: " +
                    (lastMessage_.empty() ? flag_name(flag) : lastMessage_));
}

void Integrator::check_made(int flag, int memoryFailure, const char* call,
                            const std::string& what) const {
  if (flag == memoryFailure) throw HostError("out of memory for " + what);
  check(flag, call);
}
