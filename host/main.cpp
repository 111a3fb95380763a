// tavelo-sim: simulates an FMI 1.0 Model Exchange FMU from the command line. The road: the
// options; the FMU's archive and model description; the experiment's times and the --set
// assignments, checked against the description; the result folder; the library; the run; the
// summary.
#include <chrono>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "host/assignments.h"
#include "host/console.h"
#include "host/errors.h"
#include "host/experiment.h"
#include "host/fmi_library.h"
#include "host/fmu_archive.h"
#include "host/integrator.h"
#include "host/memory_budget.h"
#include "host/model_description.h"
#include "host/options.h"
#include "host/result_file.h"
#include "host/result_folder.h"
#include "host/run_end.h"
#include "host/signals.h"
#include "host/simulation.h"

namespace {

constexpr int ExitFailure = 1;  // the run failed
constexpr int ExitUsage = 2;    // the command line is wrong

using Clock = std::chrono::steady_clock;

// The command line's times and tolerance, else the model's default experiment.
SimulationSettings settings_of(const Options& o, const ModelDescription& d) {
  SimulationSettings s;
  Experiment& experiment = s;
  experiment = resolve_experiment({o.start, o.stop, o.interval, o.tolerance}, d);
  s.log = o.log;
  s.interrupt = interrupt_flag();
  return s;
}

int run(const Options& o) {
  const Clock::time_point begin = Clock::now();
  FmuArchive fmu(o.fmuPath);
  const ModelDescription description = parse_model_description(fmu.model_description());
  check_run_memory(description.numberOfContinuousStates, description.numberOfEventIndicators);
  SimulationSettings settings = settings_of(o, description);
  const std::vector<ResolvedAssignment> assignments =
      resolve_assignments(description, o.assignments);
  ResultFolder folder(o.resultDirectory);
  const FmiLibrary library(fmu, description.modelIdentifier);
  fmu.close();
  folder.enter();
  ResultFile resultFile(folder.result_path());
  settings.initialized = [&resultFile] { resultFile.note_made(); };
  const SimulationSummary summary = [&] {
    const ModelExitNote exitNote(folder.result_path());
    ProgressLine progress(!o.quiet, settings.start, settings.stop);
    std::function<void(double)> reached;
    if (progress.enabled()) reached = [&](double t) { progress.update(t); };
    return simulate(library.functions(), description, assignments, settings, reached);
  }();
  const ResultRows rows = resultFile.read_back(summary.rowsExpected, folder.removed());
  if (!o.quiet)
    print_summary(o.fmuPath, settings, summary, rows,
                  std::chrono::duration<double>(Clock::now() - begin).count());
  print_warnings(summary);
  print_lost_rows(rows);
  if (rows.lost()) return ExitFailure;  // also for a run a signal ended
  return summary.interruptedBy != 0 ? 128 + summary.interruptedBy : 0;
}

// The command line, the run, and what ends it: its exit status.
int command(int argc, char** argv) {
  const ParsedOptions parsed = parse_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    print_err("tavelo-sim: %s (see tavelo-sim --help)\n", parsed.error.c_str());
    return ExitUsage;
  }
  const Options& o = parsed.options;
  if (o.help) {
    print_out("%s", usageText);
    return 0;
  }
  if (o.version) {
    print_out("tavelo-sim 1.0 (FMI 1.0 Model Exchange host, SUNDIALS CVODE %s)\n",
              Integrator::version());
    return 0;
  }
  try {
    return run(o);
  } catch (const UsageError& e) {
    print_err("tavelo-sim: %s (see tavelo-sim --help)\n", e.what());
    return ExitUsage;
  } catch (const HostError& e) {
    print_err("tavelo-sim: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    print_err("tavelo-sim: out of memory (an allocation of the host failed)\n");
  } catch (const std::exception& e) {
    print_err("tavelo-sim: internal error: %s\n", e.what());
  }
  return ExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  if (!open_standard_streams()) return ExitFailure;
  catch_interrupts();
  return finish_console(command(argc, argv));
}
