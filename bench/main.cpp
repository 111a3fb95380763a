// The benchmark run: every benchmark, then the ratios to their anchors with the targets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "anchors.h"

namespace {

const Ratio ratios[] = {
    {"fmiGetDerivatives (new states) / bare friction solve", "BM_GetDerivatives",
     {{"BM_BareFrictionSolve"}}, 3.0},
    {"fmiGetDerivatives (new states) / closed-form accelerations", "BM_GetDerivatives",
     {{"BM_ClosedFormAccelerations"}}, 0.0},
    {"result row / specified append", "BM_ResultRow", {{"BM_SpecifiedAppend"}}, 1.25},
    // The work the experiment cannot do without: its rows' appends, the model evaluated in
    // full at each output point, and each evaluation that the integrator asks for (of
    // derivatives or event indicators) at the price of a derivative call.
    {"default 10 s experiment / its appends and evaluations", "BM_DefaultExperiment",
     {{"BM_ExperimentAppends", nullptr, "10,001 appends"},
      {"BM_FullEvaluation", "output points", "full evaluations"},
      {"BM_GetDerivatives", "integrator evaluations", "integrator's evaluations"}},
     1.25},
};

// The console report; of every benchmark by its function name the CPU time per iteration (in
// seconds) and the counters: the means of the repetitions where there are several. CPU time
// (the process's user and system time, the system calls of the appends included) is what the
// ratios compare: on a busy machine the wall time also counts the time others had the
// processor.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (!run.aggregate_name.empty() && run.aggregate_name != "mean") continue;
      // The registered name, without arguments, repetitions or the aggregate's suffix.
      const std::string& name = run.run_name.function_name;
      seconds[name] = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      for (const auto& [counter, value] : run.counters) counters[name][counter] = value.value;
    }
  }
  std::map<std::string, double> seconds;
  std::map<std::string, std::map<std::string, double>> counters;
};

// A cost of a ratio's denominator in seconds, and how often it counts; false where the run
// lacks its benchmark or counter (a filter left it out).
bool cost_of(const RecordingReporter& reporter, const char* numerator, const Cost& cost,
             double& seconds, double& times) {
  const auto s = reporter.seconds.find(cost.benchmark);
  if (s == reporter.seconds.end()) return false;
  seconds = s->second;
  times = 1.0;
  if (cost.times == nullptr) return true;
  const auto counters = reporter.counters.find(numerator);
  if (counters == reporter.counters.end()) return false;
  const auto c = counters->second.find(cost.times);
  if (c == counters->second.end()) return false;
  times = c->second;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nRatios to the anchors, by CPU time:\n");
  for (const Ratio& r : ratios) {
    const auto n = reporter.seconds.find(r.numerator);
    if (n == reporter.seconds.end()) continue;
    double denominator = 0.0;
    std::string parts;
    bool complete = true;
    for (const Cost& cost : r.denominator) {
      if (cost.benchmark == nullptr) continue;
      double seconds = 0.0, times = 0.0;
      if (!cost_of(reporter, r.numerator, cost, seconds, times)) {
        complete = false;
        break;
      }
      denominator += seconds * times;
      if (cost.what == nullptr) continue;
      char part[120];
      const char* plus = parts.empty() ? "" : " + ";
      if (cost.times == nullptr)
        std::snprintf(part, sizeof part, "%s%s %.1f ms", plus, cost.what, 1e3 * seconds);
      else
        std::snprintf(part, sizeof part, "%s%.0f %s x %.2f us", plus, times, cost.what,
                      1e6 * seconds);
      parts += part;
    }
    if (!complete || denominator <= 0.0) continue;
    const double ratio = n->second / denominator;
    if (r.target > 0.0)
      std::printf("  %-60s %6.2f  (at most %.2f: %s)\n", r.what, ratio, r.target,
                  ratio <= r.target ? "met" : "missed");
    else
      std::printf("  %-60s %6.2f\n", r.what, ratio);
    // A sum: its parts, so that the figures behind the ratio stand beside it.
    if (!parts.empty())
      std::printf("    %.1f ms against %.1f ms: %s\n", 1e3 * n->second, 1e3 * denominator,
                  parts.c_str());
  }
  return 0;
}
