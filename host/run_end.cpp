#include "host/run_end.h"

#include <algorithm>
#include <cstdlib>

#include "host/console.h"
#include "host/numbers.h"
#include "host/signals.h"

namespace {

// The library leaves out the rows that do not fit and goes on.
constexpr const char* LostRowsCause = "the disk is full or a file-size limit was reached";

// How the result file went during the run. The host does not tell a removed file from a renamed
// one (kept under another name, the rows in it), nor whether the file left its folder before
// the folder was removed: either way "dsres.mat" does not hold the run's rows.
const char* removal_text(const ResultRows& r) {
  switch (r.removed) {
    case ResultRows::Removed::WithFolder:
      return "was removed or renamed during the run, and its folder was removed";
    case ResultRows::Removed::Replaced:
      return "was removed or renamed during the run, another file has its name now";
    default: return "was removed or renamed during the run";
  }
}

void print_result_rows(const ResultRows& r) {
  if (r.removed != ResultRows::Removed::No)
    print_out("  result rows       none counted (%s %s: %s does not hold the run's rows)\n",
              ResultFileName, removal_text(r), ResultFileName);
  else if (!r.written)
    print_out("  result rows       none counted (no %s written by this run)\n", ResultFileName);
  else if (!r.rows)
    print_out("  result rows       none counted (%s holds no readable data_2)\n",
              ResultFileName);
  else
    print_out("  result rows       %ld in %s\n", *r.rows, ResultFileName);
  if (r.missing() > 0)
    print_out("  rows missing      %ld of at least %ld (%s)\n", r.missing(), r.expected,
              LostRowsCause);
}

// The result folder, also where it is gone.
std::string folder_of_result(const ResultRows& r) {
  const size_t slash = r.path.rfind('/');
  return slash == 0 ? "/" : r.path.substr(0, slash);
}

void print_final_states(const SimulationSummary& summary) {
  print_out("  final states\n");
  size_t width = 0;
  for (const auto& [name, value] : summary.finalStates) width = std::max(width, name.size());
  for (const auto& [name, value] : summary.finalStates)
    print_out("    %-*s  %.10g\n", static_cast<int>(width), name.c_str(), value);
}

// Set before the handler can run; the handler only reads them.
std::string exitResultFile;
bool exitNoteArmed = false;

// The library's message ends without a line break: the host's line starts on a new one.
extern "C" void note_model_exit() {
  if (!exitNoteArmed) return;
  exitNoteArmed = false;
  print_err("\ntavelo-sim: the model ended the process, most likely unable to write the result "
            "file %s (the disk is full, a file-size limit was reached, or the folder is gone)\n",
            exitResultFile.c_str());
}

}  // namespace

void print_summary(const std::string& fmuPath, const SimulationSettings& s,
                   const SimulationSummary& summary, const ResultRows& rows, double wallTime) {
  if (!summary.started) {
    print_out("%s: interrupted by %s before the simulation started\n", fmuPath.c_str(),
              signal_name(summary.interruptedBy));
    print_result_rows(rows);
    print_out("  wall time         %.3f s\n", wallTime);
    return;
  }
  std::string how;
  if (summary.stoppedByModel) how = " (stopped by the model)";
  if (summary.interruptedBy != 0)
    how = std::string(", interrupted by ") + signal_name(summary.interruptedBy) +
          " (stop time " + summary_seconds_text(s.stop) + ")";
  print_out("%s: simulated from %s to %s%s\n", fmuPath.c_str(),
            summary_seconds_text(s.start).c_str(), summary_seconds_text(summary.endTime).c_str(),
            how.c_str());
  print_out("  integrator steps  %ld\n", summary.steps);
  print_out("  events            %ld\n", summary.events);
  print_out("  output points     %ld (every %s)\n", summary.outputPoints,
            summary_seconds_text(s.interval.seconds()).c_str());
  print_result_rows(rows);
  print_final_states(summary);
  if (summary.warnings > 0)
    print_out("  warnings          %ld calls returned fmiWarning, the first %s\n",
              summary.warnings, summary.firstWarning.c_str());
  print_out("  wall time         %.3f s\n", wallTime);
  print_out("  result in         %s\n", folder_of_result(rows).c_str());
}

void print_warnings(const SimulationSummary& summary) {
  if (summary.warnings == 0) return;
  flush_out();
  print_err("tavelo-sim: warning: %ld calls returned fmiWarning, the first %s\n",
            summary.warnings, summary.firstWarning.c_str());
}

void print_lost_rows(const ResultRows& rows) {
  if (!rows.lost()) return;
  flush_out();
  if (rows.removed != ResultRows::Removed::No)
    print_err("tavelo-sim: the result file %s %s: %s does not hold the run's rows\n",
              rows.path.c_str(), removal_text(rows), ResultFileName);
  else
    print_err("tavelo-sim: %s holds %ld of at least %ld rows of the run's start and output "
              "points, %ld missing: %s\n",
              rows.path.c_str(), *rows.rows, rows.expected, rows.missing(), LostRowsCause);
}

ModelExitNote::ModelExitNote(const std::string& resultPath) {
  static const bool registered = std::atexit(note_model_exit) == 0;
  exitResultFile = resultPath;
  exitNoteArmed = registered;
}

ModelExitNote::~ModelExitNote() { exitNoteArmed = false; }
