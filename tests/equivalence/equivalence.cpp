// The equivalence run: one call sequence on the library of this build, and the comparison of
// two such runs (the Linux library and the Windows DLL under wine).
//
//   tavelo_equivalence run DIR          runs the sequence in DIR: DIR/trace.bin, DIR/dsres.mat
//   tavelo_equivalence compare DIR DIR  compares two runs; exit status 0 when they agree
//
// The sequence: instantiate, initialise, then 1000 fixed steps of 1 ms (explicit Euler) to 1 s,
// each with the completed-step call and an event update where an event indicator changed sign
// or the library asks for one. Each step records whether an event was handled, the states,
// derivatives and event indicators (after the event update). Two runs agree when the events
// fall at the same steps, every recorded value agrees to 1e-12 relative (1e-15 absolute near
// zero), and the result files have the same layout with float elements at most one unit in the
// last place apart. The report gives the largest difference of each kind: the variable, the
// step and time, both values, and what the runs' own maths tell of its source. Each run records,
// per step, its platform's sin and cos of the angle states it was given (and atan2 of them at
// the initialisation, where the start orientation uses atan2), so the comparison can say
// whether those differed at or before that step.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fmi/test_host.h"
#include "model/variable_table.h"
#include "unit/mat4_reader.h"

namespace {

constexpr int Steps = 1000;
constexpr double StepSize = 1e-3;
constexpr double RelativeTolerance = 1e-12;
constexpr double AbsoluteFloor = 1e-15;

void quiet_logger(fmiComponent, fmiString, fmiStatus, fmiString, fmiString, ...) {}

struct Record {
  int32_t step = 0;
  int32_t event = 0;
  double time = 0;
  std::vector<double> states, derivatives, indicators;
  std::vector<double> maths;  // per angle state: sin, cos, atan2 (at the initialisation only)
};

// Kinds of the recorded maths values of one angle state.
constexpr const char* MathsNames[] = {"sin", "cos", "atan2"};
constexpr size_t MathsPerAngle = 3;

// The model's name of state i, from the variable table.
std::string state_name(size_t i) {
  for (const VariableRecord& v : variableTable)
    if (record_kind(v) == KindState && v.index == static_cast<int32_t>(i)) return v.name;
  return "state " + std::to_string(i);
}

// The states that are angles: the ones the model takes sin and cos of.
std::vector<size_t> angle_states(size_t nx) {
  std::vector<size_t> out;
  for (size_t i = 0; i < nx; ++i) {
    const std::string name = state_name(i);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".phi") == 0) out.push_back(i);
  }
  return out;
}

// This platform's sin, cos (and at the initialisation atan2) of the angle states of r.
void record_maths(Record& r, const std::vector<size_t>& angles) {
  r.maths.assign(angles.size() * MathsPerAngle, 0.0);
  for (size_t a = 0; a < angles.size(); ++a) {
    const double x = r.states[angles[a]];
    r.maths[a * MathsPerAngle] = std::sin(x);
    r.maths[a * MathsPerAngle + 1] = std::cos(x);
    if (r.step == 0) r.maths[a * MathsPerAngle + 2] = std::atan2(std::sin(x), std::cos(x));
  }
}

template <typename F>
F resolve(void* library, const char* name) {
  void* address = library_symbol(library, name);
  if (address == nullptr) {
    std::fprintf(stderr, "missing export %s\n", name);
    std::exit(2);
  }
  return reinterpret_cast<F>(address);
}

bool check(fmiStatus status, const char* call) {
  if (status == fmiOK) return true;
  std::fprintf(stderr, "%s returned status %d\n", call, static_cast<int>(status));
  return false;
}

int run(const std::string& dir) {
  std::string error;
  void* library = open_library(TAVELO_SO_PATH, error);
  if (library == nullptr) {
    std::fprintf(stderr, "loading %s: %s\n", TAVELO_SO_PATH, error.c_str());
    return 2;
  }
  auto instantiate = resolve<fmiInstantiateModelTYPE*>(library, "Tavelo_fmiInstantiateModel");
  auto set_time = resolve<fmiSetTimeTYPE*>(library, "Tavelo_fmiSetTime");
  auto initialize = resolve<fmiInitializeTYPE*>(library, "Tavelo_fmiInitialize");
  auto get_states = resolve<fmiGetContinuousStatesTYPE*>(library, "Tavelo_fmiGetContinuousStates");
  auto set_states = resolve<fmiSetContinuousStatesTYPE*>(library, "Tavelo_fmiSetContinuousStates");
  auto get_derivatives = resolve<fmiGetDerivativesTYPE*>(library, "Tavelo_fmiGetDerivatives");
  auto get_indicators =
      resolve<fmiGetEventIndicatorsTYPE*>(library, "Tavelo_fmiGetEventIndicators");
  auto completed = resolve<fmiCompletedIntegratorStepTYPE*>(library,
                                                            "Tavelo_fmiCompletedIntegratorStep");
  auto event_update = resolve<fmiEventUpdateTYPE*>(library, "Tavelo_fmiEventUpdate");
  auto terminate = resolve<fmiTerminateTYPE*>(library, "Tavelo_fmiTerminate");
  auto free_instance = resolve<fmiFreeModelInstanceTYPE*>(library, "Tavelo_fmiFreeModelInstance");

  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::filesystem::current_path(dir, ec);
  if (ec) {
    std::fprintf(stderr, "cannot enter %s\n", dir.c_str());
    return 2;
  }
  const fmiCallbackFunctions callbacks{quiet_logger, std::calloc, std::free};
  fmiComponent c = instantiate("equivalence", TaveloGUID, callbacks, fmiFalse);
  if (c == nullptr) return std::fprintf(stderr, "instantiation failed\n"), 2;

  constexpr size_t nx = 4, ni = 32;
  const std::vector<size_t> angles = angle_states(nx);
  std::vector<Record> records;
  Record r;
  r.states.resize(nx);
  r.derivatives.resize(nx);
  r.indicators.resize(ni);
  fmiEventInfo info{};
  bool ok = check(set_time(c, 0.0), "fmiSetTime") &&
            check(initialize(c, fmiFalse, 0.0, &info), "fmiInitialize") &&
            check(get_states(c, r.states.data(), nx), "fmiGetContinuousStates") &&
            check(get_derivatives(c, r.derivatives.data(), nx), "fmiGetDerivatives") &&
            check(get_indicators(c, r.indicators.data(), ni), "fmiGetEventIndicators");
  r.event = 1;
  record_maths(r, angles);
  records.push_back(r);
  for (int k = 1; ok && k <= Steps && !info.terminateSimulation; ++k) {
    const Record before = records.back();
    r.step = k;
    r.time = k * StepSize;
    for (size_t i = 0; i < nx; ++i)
      r.states[i] = before.states[i] + StepSize * before.derivatives[i];
    ok = check(set_time(c, r.time), "fmiSetTime") &&
         check(set_states(c, r.states.data(), nx), "fmiSetContinuousStates") &&
         check(get_derivatives(c, r.derivatives.data(), nx), "fmiGetDerivatives") &&
         check(get_indicators(c, r.indicators.data(), ni), "fmiGetEventIndicators");
    record_maths(r, angles);
    bool crossed = false;
    for (size_t i = 0; i < ni; ++i)
      crossed = crossed || (before.indicators[i] > 0) != (r.indicators[i] > 0);
    fmiBoolean callEventUpdate = fmiFalse;
    ok = ok && check(completed(c, &callEventUpdate), "fmiCompletedIntegratorStep");
    const bool timeEvent = info.upcomingTimeEvent && r.time >= info.nextEventTime;
    r.event = ok && (crossed || callEventUpdate || timeEvent) ? 1 : 0;
    if (r.event) {
      ok = check(event_update(c, fmiFalse, &info), "fmiEventUpdate") &&
           check(get_states(c, r.states.data(), nx), "fmiGetContinuousStates") &&
           check(get_derivatives(c, r.derivatives.data(), nx), "fmiGetDerivatives") &&
           check(get_indicators(c, r.indicators.data(), ni), "fmiGetEventIndicators");
    }
    records.push_back(r);
  }
  ok = ok && check(terminate(c), "fmiTerminate");
  free_instance(c);

  std::ofstream out("trace.bin", std::ios::binary);
  auto put = [&](const void* p, size_t n) { out.write(static_cast<const char*>(p), n); };
  const int32_t header[4] = {static_cast<int32_t>(records.size()), nx, ni,
                             static_cast<int32_t>(angles.size() * MathsPerAngle)};
  put(header, sizeof header);
  for (const Record& rec : records) {
    put(&rec.step, 4);
    put(&rec.event, 4);
    put(&rec.time, 8);
    put(rec.states.data(), nx * 8);
    put(rec.derivatives.data(), nx * 8);
    put(rec.indicators.data(), ni * 8);
    put(rec.maths.data(), rec.maths.size() * 8);
  }
  std::printf("%s: %zu records written\n", dir.c_str(), records.size());
  return ok && out ? 0 : 1;
}

bool read_trace(const std::string& path, std::vector<Record>& records) {
  std::ifstream in(path, std::ios::binary);
  int32_t header[4] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  records.resize(static_cast<size_t>(header[0]));
  for (Record& r : records) {
    r.states.resize(static_cast<size_t>(header[1]));
    r.derivatives.resize(static_cast<size_t>(header[1]));
    r.indicators.resize(static_cast<size_t>(header[2]));
    r.maths.resize(static_cast<size_t>(header[3]));
    in.read(reinterpret_cast<char*>(&r.step), 4);
    in.read(reinterpret_cast<char*>(&r.event), 4);
    in.read(reinterpret_cast<char*>(&r.time), 8);
    in.read(reinterpret_cast<char*>(r.states.data()), r.states.size() * 8);
    in.read(reinterpret_cast<char*>(r.derivatives.data()), r.derivatives.size() * 8);
    in.read(reinterpret_cast<char*>(r.indicators.data()), r.indicators.size() * 8);
    in.read(reinterpret_cast<char*>(r.maths.data()), r.maths.size() * 8);
  }
  return static_cast<bool>(in);
}

// Units in the last place between two floats (0 for equal values, also 0 and -0).
int64_t float_ulps(float x, float y) {
  if (x == y) return 0;
  int32_t i, j;
  std::memcpy(&i, &x, 4);
  std::memcpy(&j, &y, 4);
  auto ordered = [](int32_t v) { return v < 0 ? static_cast<int64_t>(INT32_MIN) - v : v; };
  return std::llabs(ordered(i) - ordered(j));
}

// Units in the last place between two doubles (0 for equal values, also 0 and -0).
int64_t double_ulps(double x, double y) {
  if (x == y) return 0;
  int64_t i, j;
  std::memcpy(&i, &x, 8);
  std::memcpy(&j, &y, 8);
  auto ordered = [](int64_t v) { return v < 0 ? INT64_MIN - v : v; };
  const int64_t d = ordered(i) - ordered(j);
  return d < 0 ? -d : d;
}

// What the runs' own maths tell of a difference at step: the platform's sin, cos or atan2 giving
// different results for the same argument at or before it (the latest such step is named, as
// the likeliest source). Arguments that already differ between the runs do not count: their
// results differ for that reason alone.
std::string maths_source(const std::vector<Record>& a, const std::vector<Record>& b, int step) {
  const std::vector<size_t> angles = angle_states(a.empty() ? 0 : a[0].states.size());
  char text[320] = "no maths-library difference seen up to this step";
  int seen = 0;
  for (size_t k = 0; k < std::min(a.size(), b.size()) && a[k].step <= step; ++k) {
    for (size_t m = 0; m < std::min(a[k].maths.size(), b[k].maths.size()); ++m) {
      const size_t state = angles[m / MathsPerAngle];
      const double x = a[k].states[state];
      if (std::memcmp(&x, &b[k].states[state], 8) != 0) continue;
      const int64_t u = double_ulps(a[k].maths[m], b[k].maths[m]);
      if (u == 0) continue;
      ++seen;
      const std::string by =
          u == 1 ? "in the last bit" : "by " + std::to_string(u) + " units in the last place";
      std::snprintf(text, sizeof text, "platform %s differs %s at step %d for argument %.17g (%s): "
                    "%.17g vs %.17g",
                    MathsNames[m % MathsPerAngle], by.c_str(), a[k].step, x,
                    state_name(state).c_str(), a[k].maths[m], b[k].maths[m]);
    }
  }
  if (seen <= 1) return text;
  return std::string(text) + " (the latest of " + std::to_string(seen) +
         " such differences up to this step)";
}

// The largest difference of one kind of value, and where it lies.
struct Largest {
  const char* what;
  double relative = 0;  // |a - b| / max(|a|, |b|); 0 when both are equal
  double a = 0, b = 0, time = 0;
  int step = -1;
  size_t index = 0;
  int outside = 0;      // values outside the tolerance
  int bitDifferent = 0;
  void see(double x, double y, const Record& at, size_t element) {
    if (std::memcmp(&x, &y, sizeof x) == 0) return;
    ++bitDifferent;
    const double d = std::fabs(x - y);
    const double scale = std::fmax(std::fabs(x), std::fabs(y));
    const double rel = scale > 0 ? d / scale : 0;
    if (!(d <= AbsoluteFloor || d <= RelativeTolerance * scale)) ++outside;
    if (rel > relative || step < 0 || std::isnan(d)) {
      relative = std::isnan(d) ? INFINITY : rel;
      a = x;
      b = y;
      step = at.step;
      time = at.time;
      index = element;
    }
  }
  // name: the variable the largest difference belongs to; source: what explains it.
  void report(const std::string& name, const std::string& source) const {
    if (bitDifferent == 0) {
      std::printf("  %-17s bit-identical\n", what);
      return;
    }
    std::printf("  %-17s %d values differ, %d beyond tolerance; largest relative %.3g in %s at "
                "step %d (time %g): %.17g vs %.17g\n    source: %s\n",
                what, bitDifferent, outside, relative, name.c_str(), step, time, a, b,
                source.c_str());
  }
};

std::string indicator_name(size_t i) {
  return "relation " + std::to_string(i / 2 + 1) + ", crossing value " +
         std::to_string(i % 2 + 1) + " of 2";
}

// The name of the variable stored in column i of data matrix n (1 or 2), from dataInfo.
std::string data_column_name(const mat4::File& f, int n, int32_t i) {
  const mat4::Matrix* info = f.find("dataInfo");
  const mat4::Matrix* names = f.find("name");
  if (info == nullptr || names == nullptr || info->mrows < 2) return "column " + std::to_string(i);
  for (int32_t v = 0; v < info->ncols && v < names->ncols; ++v) {
    const auto column = static_cast<int32_t>(std::fabs(info->number(1, v)));
    if (static_cast<int>(info->number(0, v)) == n && column == i + 1) {
      std::string name = names->column_string(v);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      return name;
    }
  }
  return "column " + std::to_string(i + 1);
}

// Why two texts differ where a platform is known to print differently; else says so.
const char* text_difference_cause(const std::string& x, const std::string& y) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string lx = lower(x), ly = lower(y);
  if ((lx.find("nan") != std::string::npos) != (ly.find("nan") != std::string::npos) ||
      lx.find("#") != ly.find("#"))
    return "the platforms print NaN or infinity differently";
  if (lx.find("e+0") != std::string::npos || lx.find("e-0") != std::string::npos ||
      ly.find("e+0") != std::string::npos || ly.find("e-0") != std::string::npos)
    return "the platforms print an exponent with different digit counts";
  return "no known platform cause";
}

// The first text of a text matrix (one per column) that differs, and why; for other matrices
// the first element that differs.
void report_matrix_difference(const mat4::Matrix& x, const mat4::Matrix& y) {
  if (x.text()) {
    for (int32_t j = 0; j < x.ncols; ++j) {
      std::string s = x.column_string(j), t = y.column_string(j);
      if (s == t) continue;
      while (!s.empty() && s.back() == ' ') s.pop_back();
      while (!t.empty() && t.back() == ' ') t.pop_back();
      std::printf("  %-17s differs: text %d \"%s\" vs \"%s\"; %s\n", x.name.c_str(), j + 1,
                  s.c_str(), t.c_str(), text_difference_cause(s, t));
      return;
    }
  }
  for (int32_t j = 0; j < x.ncols; ++j) {
    for (int32_t i = 0; i < x.mrows; ++i) {
      if (x.number(i, j) == y.number(i, j)) continue;
      std::printf("  %-17s differs: element (%d, %d): %.17g vs %.17g\n", x.name.c_str(), i, j,
                  x.number(i, j), y.number(i, j));
      return;
    }
  }
  std::printf("  %-17s differs\n", x.name.c_str());
}

int compare(const std::string& dirA, const std::string& dirB) {
  std::vector<Record> a, b;
  if (!read_trace(dirA + "/trace.bin", a) || !read_trace(dirB + "/trace.bin", b)) {
    std::printf("a trace is missing or cut short\n");
    return 1;
  }
  bool agree = true;
  std::printf("equivalence of %s and %s\n", dirA.c_str(), dirB.c_str());
  if (a.size() != b.size()) {
    std::printf("  records: %zu vs %zu\n", a.size(), b.size());
    agree = false;
  }
  int eventSteps = 0, eventMismatches = 0, firstMismatch = -1;
  Largest states{"states"}, derivatives{"derivatives"}, indicators{"event indicators"};
  for (size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
    eventSteps += a[k].event;
    if (a[k].event != b[k].event) {
      if (firstMismatch < 0) firstMismatch = a[k].step;
      ++eventMismatches;
    }
    for (size_t i = 0; i < a[k].states.size(); ++i) {
      states.see(a[k].states[i], b[k].states[i], a[k], i);
      derivatives.see(a[k].derivatives[i], b[k].derivatives[i], a[k], i);
    }
    for (size_t i = 0; i < a[k].indicators.size(); ++i)
      indicators.see(a[k].indicators[i], b[k].indicators[i], a[k], i);
  }
  std::printf("  events            %d steps with events; %d steps differ", eventSteps,
              eventMismatches);
  if (firstMismatch >= 0) std::printf(", the first at step %d", firstMismatch);
  std::printf("\n");
  states.report(state_name(states.index), maths_source(a, b, states.step));
  derivatives.report("der(" + state_name(derivatives.index) + ")",
                     maths_source(a, b, derivatives.step));
  indicators.report(indicator_name(indicators.index), maths_source(a, b, indicators.step));
  agree = agree && eventMismatches == 0 && states.outside == 0 && derivatives.outside == 0 &&
          indicators.outside == 0;

  const mat4::File fa = mat4::parse(mat4::slurp(dirA + "/dsres.mat"));
  const mat4::File fb = mat4::parse(mat4::slurp(dirB + "/dsres.mat"));
  if (!fa.ok || !fb.ok) {
    std::printf("  dsres.mat unreadable: %s / %s\n", fa.error.c_str(), fb.error.c_str());
    return 1;
  }
  bool layout = fa.matrices.size() == fb.matrices.size();
  for (size_t m = 0; layout && m < fa.matrices.size(); ++m) {
    const mat4::Matrix& x = fa.matrices[m];
    const mat4::Matrix& y = fb.matrices[m];
    layout = x.name == y.name && x.type == y.type && x.mrows == y.mrows && x.ncols == y.ncols &&
             x.offset == y.offset;
  }
  std::printf("  dsres.mat layout  %s\n", layout ? "identical" : "differs");
  agree = agree && layout;
  for (size_t m = 0; layout && m < fa.matrices.size(); ++m) {
    const mat4::Matrix& x = fa.matrices[m];
    const mat4::Matrix& y = fb.matrices[m];
    if (x.precision() != 1) {
      const bool same = x.bytes == y.bytes;
      if (!same) report_matrix_difference(x, y);
      agree = agree && same;
      continue;
    }
    int64_t largest = 0;
    int32_t at_i = 0, at_j = 0, different = 0;
    for (int32_t j = 0; j < x.ncols; ++j) {
      for (int32_t i = 0; i < x.mrows; ++i) {
        const int64_t u = float_ulps(static_cast<float>(x.number(i, j)),
                                     static_cast<float>(y.number(i, j)));
        if (u != 0) ++different;
        if (u > largest) largest = u, at_i = i, at_j = j;
      }
    }
    if (largest == 0) {
      std::printf("  %-17s bit-identical\n", x.name.c_str());
    } else {
      // Row at_j holds the time in its first element; the runs record one row per step.
      const double time = x.number(0, at_j);
      const int step = static_cast<int>(std::lround(time / StepSize));
      const int n = x.name == "data_1" ? 1 : 2;
      const double va = x.number(at_i, at_j), vb = y.number(at_i, at_j);
      std::printf("  %-17s %d floats differ; largest %lld units in the last place in %s at "
                  "step %d (time %g): %.9g vs %.9g, relative %.3g\n    source: %s\n",
                  x.name.c_str(), different, static_cast<long long>(largest),
                  data_column_name(fa, n, at_i).c_str(), step, time, va, vb,
                  std::fabs(va - vb) / std::fmax(std::fabs(va), std::fabs(vb)),
                  maths_source(a, b, step).c_str());
    }
    agree = agree && largest <= 1;
  }
  std::printf("%s\n", agree ? "the runs agree" : "the runs DO NOT agree");
  return agree ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "run") == 0) return run(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
  std::fprintf(stderr, "usage: %s run DIR | compare DIR DIR\n", argv[0]);
  return 2;
}
