// The benchmark run: every benchmark, then the ratios to their anchors with the targets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "anchors.h"

namespace {

const Ratio ratios[] = {
    {"fmiGetDerivatives (new states) / bare friction solve", "BM_GetDerivatives",
     "BM_BareFrictionSolve", 3.0},
    {"fmiGetDerivatives (new states) / closed-form accelerations", "BM_GetDerivatives",
     "BM_ClosedFormAccelerations", 0.0},
    {"result row / specified append", "BM_ResultRow", "BM_SpecifiedAppend", 1.25},
    {"default 10 s experiment / its 10,001 specified appends", "BM_DefaultExperiment",
     "BM_ExperimentAppends", 1.5},
};

// The console report, and the CPU time per iteration (in seconds) of every benchmark by its
// function name: the mean of the repetitions where there are several. CPU time (the process's
// user and system time, the system calls of the appends included) is what the ratios compare:
// on a busy machine the wall time also counts the time others had the processor.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (!run.aggregate_name.empty() && run.aggregate_name != "mean") continue;
      // The registered name, without arguments, repetitions or the aggregate's suffix.
      seconds[run.run_name.function_name] =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }
  std::map<std::string, double> seconds;
};

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
    const auto d = reporter.seconds.find(r.denominator);
    if (n == reporter.seconds.end() || d == reporter.seconds.end() || d->second <= 0.0) continue;
    const double ratio = n->second / d->second;
    if (r.target > 0.0)
      std::printf("  %-60s %6.2f  (at most %.2f: %s)\n", r.what, ratio, r.target,
                  ratio <= r.target ? "met" : "missed");
    else
      std::printf("  %-60s %6.2f\n", r.what, ratio);
  }
  return 0;
}
