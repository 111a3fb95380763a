// The model through its FMI interface (Tavelo.fmu loaded as a host loads it), on states along
// a real trajectory: fmiGetDerivatives with new states every call, fmiGetEventIndicators after
// it, and the default experiment through tavelo-sim's loop. Beside them the floors: a
// hand-written closed-form evaluation of the same pendulum's accelerations, the bare LAPACK and
// BLAS calls of one friction solve, a full evaluation with new states (as at an output point)
// and the specified appends of the experiment's rows.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "anchors.h"
#include "host/fmi_library.h"
#include "host/fmu_archive.h"
#include "host/model_description.h"
#include "host/simulation.h"
#include "runtime/lapack.h"
#include "tests/unit/mat4_reader.h"

namespace {

std::filesystem::path scratch_directory() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavelo-bench";
  std::filesystem::create_directories(dir);
  return dir;
}

// Runs with the scratch folder as the current one (the library writes "dsres.mat" there).
class InScratch {
 public:
  InScratch() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(scratch_directory());
  }
  ~InScratch() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// Tavelo.fmu, unpacked and loaded once.
struct LoadedFmu {
  FmuArchive archive{TAVELO_FMU_PATH};
  ModelDescription description = parse_model_description(archive.model_description());
  FmiLibrary library{archive, description.modelIdentifier};

  const FmiFunctions& fmi() const { return library.functions(); }
};

const LoadedFmu& tavelo_fmu() {
  static const LoadedFmu fmu;
  return fmu;
}

SimulationSummary simulate(const LoadedFmu& fmu, const SimulationSettings& settings) {
  return simulate(fmu.fmi(), fmu.description, {}, settings);
}

SimulationSettings default_experiment() {
  SimulationSettings s;
  s.start = 0.0;
  s.stop = 10.0;
  s.interval = *interval_of(0.001);
  s.tolerance = 1e-6;
  return s;
}

// One point of the trajectory: time, the four states and the two friction modes.
struct TrajectoryPoint {
  double t;
  double x[4];
  float modes[2];
};

// The default experiment's rows, read back from its result file.
const std::vector<TrajectoryPoint>& trajectory() {
  static const std::vector<TrajectoryPoint> points = [] {
    std::vector<TrajectoryPoint> out;
    InScratch here;
    simulate(tavelo_fmu(), default_experiment());
    const mat4::File f = mat4::read("dsres.mat");
    const mat4::Matrix* names = f.find("name");
    const mat4::Matrix* info = f.find("dataInfo");
    const mat4::Matrix* data = f.find("data_2");
    if (!f.ok || !names || !info || !data) return out;
    auto row_of = [&](const char* name) {
      for (int32_t j = 0; j < names->ncols; ++j) {
        std::string n = names->column_string(j);
        if (n.erase(n.find_last_not_of(' ') + 1) == name)
          return static_cast<int32_t>(std::abs(info->number(1, j))) - 1;
      }
      return -1;
    };
    const int32_t rows[] = {row_of("armJoint.phi"), row_of("armJoint.w"),
                            row_of("pendulumJoint.phi"), row_of("pendulumJoint.w"),
                            row_of("armBearingFriction.mode"),
                            row_of("pendulumBearingFriction.mode")};
    for (int32_t k = 0; k < data->ncols; ++k) {
      TrajectoryPoint p{};
      p.t = data->number(0, k);
      for (int i = 0; i < 4; ++i) p.x[i] = data->number(rows[i], k);
      p.modes[0] = static_cast<float>(data->number(rows[4], k));
      p.modes[1] = static_cast<float>(data->number(rows[5], k));
      out.push_back(p);
    }
    return out;
  }();
  return points;
}

void quiet_logger(fmiComponent, fmiString, fmiStatus, fmiString, fmiString, ...) {}

// An initialised instance for the evaluation benchmarks; freed with the object.
class Instance {
 public:
  Instance() : fmi_(tavelo_fmu().fmi()) {
    const ModelDescription& d = tavelo_fmu().description;
    c_ = fmi_.InstantiateModel("bench", d.guid.c_str(), {quiet_logger, std::calloc, std::free},
                               fmiFalse);
    fmiEventInfo info{};
    if (c_ == nullptr || fmi_.SetTime(c_, 0.0) > fmiWarning ||
        fmi_.Initialize(c_, fmiFalse, 1e-6, &info) > fmiWarning)
      ok_ = false;
  }
  ~Instance() {
    if (c_ == nullptr) return;
    fmi_.Terminate(c_);
    fmi_.FreeModelInstance(c_);
  }
  bool ok() const { return ok_ && c_ != nullptr; }
  // Brings the model into the point's friction modes with an event update there.
  void enter_modes(const TrajectoryPoint& p) {
    set(p);
    fmiEventInfo info{};
    fmi_.EventUpdate(c_, fmiFalse, &info);
  }
  void set(const TrajectoryPoint& p) {
    fmi_.SetTime(c_, p.t);
    fmi_.SetContinuousStates(c_, p.x, 4);
  }
  fmiStatus derivatives(double* dx) { return fmi_.GetDerivatives(c_, dx, 4); }
  fmiStatus indicators(double* z) { return fmi_.GetEventIndicators(c_, z, 32); }

 private:
  const FmiFunctions& fmi_;
  fmiComponent c_ = nullptr;
  bool ok_ = true;
};

// Walks the trajectory point by point; an event update (not timed) whenever the recorded
// friction modes change, so each stretch is evaluated in the modes the run had there.
template <typename Body>
void along_trajectory(benchmark::State& state, Body body) {
  InScratch here;
  const std::vector<TrajectoryPoint>& points = trajectory();
  Instance model;
  if (points.empty() || !model.ok()) {
    state.SkipWithError("no trajectory or no instance");
    return;
  }
  size_t k = 0, modeChanges = 0;
  for (auto _ : state) {
    const TrajectoryPoint& p = points[k];
    if (k > 0 && (p.modes[0] != points[k - 1].modes[0] || p.modes[1] != points[k - 1].modes[1])) {
      state.PauseTiming();
      model.enter_modes(p);
      ++modeChanges;
      state.ResumeTiming();
    }
    body(state, model, p);
    if (++k == points.size()) {
      k = 0;
      state.PauseTiming();
      model.enter_modes(points[0]);
      state.ResumeTiming();
    }
  }
  state.counters["trajectory points"] = static_cast<double>(points.size());
  state.counters["mode changes"] = static_cast<double>(modeChanges);
}

void BM_GetDerivatives(benchmark::State& state) {
  along_trajectory(state, [](benchmark::State& s, Instance& model, const TrajectoryPoint& p) {
    double dx[4];
    model.set(p);
    if (model.derivatives(dx) > fmiWarning) s.SkipWithError("fmiGetDerivatives failed");
    benchmark::DoNotOptimize(dx);
  });
}
BENCHMARK(BM_GetDerivatives);

// Only the event-indicator request is timed, right after the derivatives at the same point.
void BM_GetEventIndicators(benchmark::State& state) {
  along_trajectory(state, [](benchmark::State& s, Instance& model, const TrajectoryPoint& p) {
    double dx[4], z[32];
    model.set(p);
    model.derivatives(dx);
    const auto begin = std::chrono::steady_clock::now();
    if (model.indicators(z) > fmiWarning) s.SkipWithError("fmiGetEventIndicators failed");
    s.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    benchmark::DoNotOptimize(z);
  });
}
BENCHMARK(BM_GetEventIndicators)->UseManualTime();

// Anchor: every level of the model at new states, as the run evaluates it at an output point:
// the time, the states, then the event indicators.
void BM_FullEvaluation(benchmark::State& state) {
  along_trajectory(state, [](benchmark::State& s, Instance& model, const TrajectoryPoint& p) {
    double z[32];
    model.set(p);
    if (model.indicators(z) > fmiWarning) s.SkipWithError("fmiGetEventIndicators failed");
    benchmark::DoNotOptimize(z);
  });
}
BENCHMARK(BM_FullEvaluation);

// Anchor: the accelerations of the same pendulum in closed form. The arm turns about the
// vertical axis, the pendulum about the arm's axis at its tip (L = 0.245 m); the pendulum's
// centre of mass lies l = 0.2105 m along it; Coulomb friction opposes each joint's speed.
struct ClosedForm {
  double Ja = 0.001;                                  // arm inertia about the vertical axis
  double m = 0.035, L = 0.245, l = 0.2105;            // pendulum mass, arm length, CM distance
  double I11 = 0.00384, I22 = 0.001, I33 = 0.001;     // pendulum inertia at its CM
  double g = 9.81, armFriction = 0.012, pendulumFriction = 0.002;

  void accelerations(const double* x, double* a) const {
    const double w = x[1], alpha = x[2], wp = x[3];
    const double s = std::sin(alpha), c = std::cos(alpha);
    const double k = m * l * l + I33 - I22;
    const double M11 = Ja + m * (L * L + l * l * s * s) + I22 * c * c + I33 * s * s;
    const double M12 = -m * L * l * c;
    const double M22 = m * l * l + I11;
    const double tauA = -std::copysign(armFriction, w) * (w != 0.0);
    const double tauP = -std::copysign(pendulumFriction, wp) * (wp != 0.0);
    const double r1 = tauA - 2.0 * s * c * k * w * wp - m * L * l * s * wp * wp;
    const double r2 = tauP + s * c * k * w * w + m * g * l * s;
    const double det = M11 * M22 - M12 * M12;
    a[0] = (r1 * M22 - M12 * r2) / det;
    a[1] = (M11 * r2 - M12 * r1) / det;
  }
};

void BM_ClosedFormAccelerations(benchmark::State& state) {
  const std::vector<TrajectoryPoint>& points = trajectory();
  if (points.empty()) {
    state.SkipWithError("no trajectory");
    return;
  }
  const ClosedForm model;
  size_t k = 0;
  for (auto _ : state) {
    double a[2];
    model.accelerations(points[k].x, a);
    benchmark::DoNotOptimize(a);
    if (++k == points.size()) k = 0;
  }
}
BENCHMARK(BM_ClosedFormAccelerations);

// Anchor: one solve of the 2 x 2 friction system as the model makes it, the bare calls: the
// correction right-hand side (DGEMV), equilibration (DGEEQU, DLAQGE), the rank-revealing
// factorisation (DGEQPF, two DLAIC1), the solve (DORM2R, DTRSM) and the update (DAXPY).
void BM_BareFrictionSolve(benchmark::State& state) {
  const int n = 2, one = 1, job1 = 1, job2 = 2;
  const double minusOne = -1.0, plusOne = 1.0;
  // A sliding pendulum coupled to a sliding arm: inertia terms of the model's size.
  const double A[4] = {-0.00539, 0.00102, 0.00102, -0.00311};
  double iterate[2] = {0.1, -0.2};
  double rhs = 0.0;
  for (auto _ : state) {
    double b[2] = {0.003 + rhs, -0.001};
    rhs = rhs < 1e-3 ? rhs + 1e-9 : 0.0;  // a new right-hand side every time
    double W[4], r[2], cs[2], rowcnd, colcnd, amax, tau[2], work[12], x1[2] = {1, 0},
                                                                     x2[2] = {1, 0};
    double sminpr, smaxpr, s1, c1, s2, c2;
    int info = 0, jpvt[2] = {0, 0};
    char equed = 'N';
    dgemv_("N", &n, &n, &minusOne, A, &n, iterate, &one, &plusOne, b, &one, 1);
    for (int i = 0; i < 4; ++i) W[i] = A[i];
    dgeequ_(&n, &n, A, &n, r, cs, &rowcnd, &colcnd, &amax, &info);
    if (info == 0) dlaqge_(&n, &n, W, &n, r, cs, &rowcnd, &colcnd, &amax, &equed, 1);
    dgeqpf_(&n, &n, W, &n, jpvt, tau, work, &info);
    double smin = std::fabs(W[0]), smax = smin;
    const int rank1 = 1;
    dlaic1_(&job2, &rank1, x1, &smin, &W[2], &W[3], &sminpr, &s1, &c1);
    dlaic1_(&job1, &rank1, x2, &smax, &W[2], &W[3], &smaxpr, &s2, &c2);
    if (equed == 'R' || equed == 'B')
      for (int i = 0; i < 2; ++i) b[i] *= r[i];
    dorm2r_("L", "T", &n, &one, &n, W, &n, tau, b, &n, work, &info, 1, 1);
    dtrsm_("L", "U", "N", "N", &n, &one, &plusOne, W, &n, b, &n, 1, 1, 1, 1);
    double placed[2] = {b[0], b[1]};
    for (int i = 0; i < 2; ++i) b[jpvt[i] - 1] = placed[i];
    if (equed == 'C' || equed == 'B')
      for (int i = 0; i < 2; ++i) b[i] *= cs[i];
    double x[2] = {iterate[0], iterate[1]};
    daxpy_(&n, &plusOne, b, &one, x, &one);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(sminpr);
    benchmark::DoNotOptimize(smaxpr);
  }
}
BENCHMARK(BM_BareFrictionSolve);

// The calls of the model that one default experiment makes, counted through the library's
// functions behind counting ones.
struct ExperimentCalls {
  long outputPoints = 0;
  long derivatives = 0;     // fmiGetDerivatives: the integrator's alone
  long indicators = 0;      // fmiGetEventIndicators: the integrator's and the run's own
  long completedSteps = 0;  // fmiCompletedIntegratorStep: output points and step ends
  // The integrator's evaluations. Each completed step follows the evaluation of its point,
  // the run's own or the integrator's last one where that was there already: counted as the
  // step's, never as the integrator's.
  long integrator_evaluations() const { return derivatives + indicators - completedSteps; }
};

namespace counted {
const FmiFunctions* library = nullptr;
ExperimentCalls calls;
fmiStatus GetDerivatives(fmiComponent c, fmiReal dx[], size_t nx) {
  ++calls.derivatives;
  return library->GetDerivatives(c, dx, nx);
}
fmiStatus GetEventIndicators(fmiComponent c, fmiReal z[], size_t ni) {
  ++calls.indicators;
  return library->GetEventIndicators(c, z, ni);
}
fmiStatus CompletedIntegratorStep(fmiComponent c, fmiBoolean* callEventUpdate) {
  ++calls.completedSteps;
  return library->CompletedIntegratorStep(c, callEventUpdate);
}
}  // namespace counted

// One run, untimed: the experiment takes the same steps every time.
const ExperimentCalls& experiment_calls() {
  static const ExperimentCalls calls = [] {
    InScratch here;
    const LoadedFmu& fmu = tavelo_fmu();
    FmiFunctions fmi = fmu.fmi();
    fmi.GetDerivatives = counted::GetDerivatives;
    fmi.GetEventIndicators = counted::GetEventIndicators;
    fmi.CompletedIntegratorStep = counted::CompletedIntegratorStep;
    counted::library = &fmu.fmi();
    counted::calls = {};
    const SimulationSummary run = simulate(fmi, fmu.description, {}, default_experiment());
    counted::calls.outputPoints = run.outputPoints;
    return counted::calls;
  }();
  return calls;
}

// The default experiment (0 to 10 s, rows every millisecond) through tavelo-sim's loop. Its
// counters give the counts of its work that the ratios price: the output points, each
// evaluated in full, and the integrator's evaluations.
void BM_DefaultExperiment(benchmark::State& state) {
  InScratch here;
  const LoadedFmu& fmu = tavelo_fmu();
  const ExperimentCalls& calls = experiment_calls();
  if (calls.outputPoints == 0 || calls.integrator_evaluations() <= 0) {
    state.SkipWithError("the counted run shows no output points or no integrator evaluations");
    return;
  }
  long steps = 0;
  for (auto _ : state) steps = simulate(fmu, default_experiment()).steps;
  state.counters["steps"] = static_cast<double>(steps);
  state.counters["output points"] = static_cast<double>(calls.outputPoints);
  state.counters["integrator evaluations"] = static_cast<double>(calls.integrator_evaluations());
}
BENCHMARK(BM_DefaultExperiment)->Unit(benchmark::kMillisecond)->Iterations(5);

// Anchor: the experiment's 10,001 rows, the specified appends alone.
void BM_ExperimentAppends(benchmark::State& state) {
  const std::string path = (scratch_directory() / "appends.mat").string();
  for (auto _ : state) {
    SpecifiedAppend append;
    state.PauseTiming();
    const bool opened = append.open(path, 513942);
    state.ResumeTiming();
    if (!opened) {
      state.SkipWithError("cannot open the scratch file");
      break;
    }
    for (int row = 0; row < 10001; ++row) append.append();
    append.close();
  }
}
BENCHMARK(BM_ExperimentAppends)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
