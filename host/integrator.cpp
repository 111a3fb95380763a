#include "host/integrator.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_config.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "host/console.h"
#include "host/errors.h"

struct Integrator::Objects {
  SUNContext context = nullptr;
  N_Vector y = nullptr;
  N_Vector output = nullptr;  // the states at an interpolated point
  N_Vector absoluteTolerance = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  void* cvode = nullptr;

  ~Objects() {
    if (cvode) CVodeFree(&cvode);
    if (solver) SUNLinSolFree(solver);
    if (matrix) SUNMatDestroy(matrix);
    if (absoluteTolerance) N_VDestroy(absoluteTolerance);
    if (output) N_VDestroy(output);
    if (y) N_VDestroy(y);
    if (context) SUNContext_Free(&context);
  }
};

namespace {

int rhs(sunrealtype t, N_Vector y, N_Vector ydot, void* data) {
  const Equations& e = *static_cast<const Equations*>(data);
  return e.derivatives(e.model, t, N_VGetArrayPointer(y), N_VGetArrayPointer(ydot));
}

// A root function cannot ask for a smaller step: anything but success is a failure.
int roots(sunrealtype t, N_Vector y, sunrealtype* gout, void* data) {
  const Equations& e = *static_cast<const Equations*>(data);
  return e.indicators(e.model, t, N_VGetArrayPointer(y), gout) == 0 ? 0 : -1;
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

}  // namespace

Integrator::Integrator(size_t states, size_t indicators, Equations equations)
    : o_(std::make_unique<Objects>()), equations_(equations), nz_(indicators) {
  const sunindextype n = static_cast<sunindextype>(states);
  if (SUNContext_Create(nullptr, &o_->context) != 0) throw HostError("SUNDIALS: no context");
  o_->y = N_VNew_Serial(n, o_->context);
  o_->output = N_VNew_Serial(n, o_->context);
  o_->absoluteTolerance = N_VNew_Serial(n, o_->context);
  if (!o_->y || !o_->output || !o_->absoluteTolerance) throw HostError("SUNDIALS: out of memory");
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
  o_->cvode = CVodeCreate(CV_BDF, o_->context);
  if (!o_->cvode) throw HostError("CVODE: out of memory");
  check(CVodeSetErrHandlerFn(o_->cvode, cvode_messages, this), "CVodeSetErrHandlerFn");
  check(CVodeInit(o_->cvode, rhs, t, o_->y), "CVodeInit");
  check(CVodeSetUserData(o_->cvode, &equations_), "CVodeSetUserData");
  check(CVodeSVtolerances(o_->cvode, settings.tolerance, o_->absoluteTolerance),
        "CVodeSVtolerances");
  o_->matrix = SUNDenseMatrix(n, n, o_->context);
  o_->solver = SUNLinSol_Dense(o_->y, o_->matrix, o_->context);
  if (!o_->matrix || !o_->solver) throw HostError("SUNDIALS: out of memory");
  check(CVodeSetLinearSolver(o_->cvode, o_->solver, o_->matrix), "CVodeSetLinearSolver");
  if (nz_ > 0) check(CVodeRootInit(o_->cvode, static_cast<int>(nz_), roots), "CVodeRootInit");
  check(CVodeSetMaxNumSteps(o_->cvode, 100000), "CVodeSetMaxNumSteps");
  check(CVodeSetMaxStep(o_->cvode, settings.maxStep), "CVodeSetMaxStep");
  check(CVodeSetInitStep(o_->cvode, firstStep_), "CVodeSetInitStep");
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

double Integrator::next_step() const {
  sunrealtype h = 0.0;
  if (o_->cvode == nullptr || CVodeGetCurrentStep(o_->cvode, &h) != CV_SUCCESS) return 0.0;
  return h;
}

long Integrator::steps() const {
  long steps = 0;
  if (o_->cvode) CVodeGetNumSteps(o_->cvode, &steps);
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
