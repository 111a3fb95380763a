// What tavelo-sim prints at the end of a run: the summary on the standard output, and the
// lines of warnings and of lost rows on the standard error stream; and its line when the
// model ends the process itself.
#pragma once

#include <string>

#include "host/result_file.h"
#include "host/simulation.h"

void print_summary(const std::string& fmuPath, const SimulationSettings& s,
                   const SimulationSummary& summary, const ResultRows& rows, double wallTime);

// A run with warnings ends well, but not unnoticed: one line, also with --quiet.
void print_warnings(const SimulationSummary& summary);

// Rows the result file lacks, or a result file removed or renamed during the run, fail the
// run: one line, also with --quiet.
void print_lost_rows(const ResultRows& rows);

// The host's line when the model ends the process. The library calls exit(1) after its own
// message when it cannot open or write "dsres.mat" (a full disk at the open, a result folder
// removed): the host's line then follows, naming the file. Armed while it lives, for the run
// of the model, from its instantiation to its free; a normal exit afterwards prints nothing.
class ModelExitNote {
 public:
  explicit ModelExitNote(const std::string& resultPath);
  ~ModelExitNote();
  ModelExitNote(const ModelExitNote&) = delete;
  ModelExitNote& operator=(const ModelExitNote&) = delete;
};
