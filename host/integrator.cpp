#include "host/integrator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <cvode/cvode.h>
#include <cvode/cvode_ls.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_config.h>
#include <sundials/sundials_context.h>
#include <sundials/sundials_types.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "host/console.h"
#include "host/errors.h"
#include "host/numbers.h"

// A relative tolerance is accepted from CVODE's unit roundoff: below it CVODE refuses a step
// whose states cannot be held to the tolerance (CV_TOO_MUCH_ACC), since the unit roundoff times
// the states' weighted norm must stay below 1.
static_assert(SUN_UNIT_ROUNDOFF == SmallestTolerance);

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

StepResult Integrator::step(double end, double& t, const StepPlan& plan) {
  for (;;) {
    check(CVodeSetStopTime(o_->cvode, plan(t, planned_step())), "CVodeSetStopTime");
    const int flag = CVode(o_->cvode, end, o_->y, &t, CV_ONE_STEP);
    StepResult r;
    if (flag >= 0) {
      r.end = flag == CV_ROOT_RETURN   ? StepResult::End::Root
              : flag == CV_TSTOP_RETURN ? StepResult::End::Stopped
                                        : StepResult::End::Reached;
      return r;
    }
    // The failures that the error test, the corrector or evaluations the model discarded at
    // every shorter step give.
    const bool gaveUp =
        flag == CV_ERR_FAILURE || flag == CV_CONV_FAILURE || flag == CV_REPTD_RHSFUNC_ERR;
    if (gaveUp && steps() == 0 && restart_shorter(t)) continue;
    r.end = StepResult::End::Failed;
    r.failure = flag_name(flag);
    r.message = lastMessage_;
    r.indicatorsFailed = flag == CV_RTFUNC_FAIL;
    r.mayComeFromDiscards = gaveUp || flag == CV_RHSFUNC_FAIL || flag == CV_UNREC_RHSFUNC_ERR ||
                         flag == CV_FIRST_RHSFUNC_ERR;
    return r;
  }
}

const double* Integrator::interpolate(double t) {
  check(CVodeGetDky(o_->cvode, t, 0, o_->output), "CVodeGetDky");
  return N_VGetArrayPointer(o_->output);
}

void Integrator::restart(double t) {
  check(CVodeReInit(o_->cvode, t, o_->y), "CVodeReInit");
  check(CVodeSetInitStep(o_->cvode, firstStep_), "CVodeSetInitStep");
}

bool Integrator::restart_shorter(double t) {
  // A thousandth of the grid's millisecond: the first step of a run on that grid.
  constexpr double ShortestFirstStep = 1e-6;
  const double shorter = std::max(firstStep_ / 1000.0, ShortestFirstStep);
  if (!(shorter < firstStep_)) return false;
  if (printMessages_)
    print_err("[retry] tavelo-sim: the first step of %s from %s failed: again with %s\n",
              seconds_text(firstStep_).c_str(), time_text(t).c_str(),
              seconds_text(shorter).c_str());
  firstStep_ = shorter;
  restart(t);
  return true;
}

double Integrator::planned_step() const {
  sunrealtype h = 0.0;
  if (!started_ || CVodeGetCurrentStep(o_->cvode, &h) != CV_SUCCESS || !(h > 0.0))
    return firstStep_;
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
