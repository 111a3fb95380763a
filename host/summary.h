// What tavelo-sim prints at the end of a run: the summary on the standard output, and the
// lines of warnings and of lost rows on the standard error stream.
#pragma once

#include <string>

#include "host/result_folder.h"
#include "host/simulation.h"

void print_summary(const std::string& fmuPath, const SimulationSettings& s,
                   const SimulationSummary& summary, const ResultRows& rows, double wallTime);

// A run with warnings ends well, but not unnoticed: one line, also with --quiet.
void print_warnings(const SimulationSummary& summary);

// Rows the result file lacks, or a result file removed during the run, fail the run: one
// line, also with --quiet.
void print_lost_rows(const ResultRows& rows);
