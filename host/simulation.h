// The simulation loop of tavelo-sim: instantiation, the --set values, initialisation, CVODE
// (BDF, dense Newton) with root finding on the event indicators, events, the output grid (the
// whole multiples of the output interval after the start time), termination.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/fmu_model.h"
#include "host/options.h"

struct SimulationSettings {
  double start = 0.0;
  double stop = 1.0;
  double interval = 1e-3;
  double tolerance = 1e-6;
  std::vector<Assignment> assignments;
  bool log = false;  // debug logging, every message on stderr
  // A signal handler's flag: once it holds a signal's number the run ends after the step it
  // is in, as at the stop time (the model terminated and freed), and says so in its summary.
  const volatile std::sig_atomic_t* interrupt = nullptr;
};

struct SimulationSummary {
  long steps = 0;         // completed integrator steps
  long events = 0;        // state, time and step events handled
  long outputPoints = 0;  // points of the output grid reached
  double endTime = 0.0;
  bool stoppedByModel = false;
  long warnings = 0;         // calls that returned fmiWarning
  std::string firstWarning;  // the first of them: the call, the time and the model's message
  int interruptedBy = 0;  // the signal that ended the run early, 0 for none
  bool started = false;   // the model was instantiated (an interrupt can come before)
  std::vector<std::pair<std::string, double>> finalStates;  // by name, in state order
};

// An assignment resolved against the model description: the reference to set and the value,
// the alias's sign already applied.
struct ResolvedAssignment {
  const ScalarVariable* variable = nullptr;  // the one that was named
  VariableType type = VariableType::Real;
  fmiValueReference valueReference = 0;
  double real = 0.0;
  fmiInteger integer = 0;
  fmiBoolean boolean = fmiFalse;
};
// Throws UsageError for an unknown name, a variable that cannot be set, or a value that does
// not parse as its type; HostError for an alias whose variable the model lacks.
ResolvedAssignment resolve_assignment(const ModelDescription& description, const Assignment& a);

// Runs one simulation. The model writes its result into the current directory. Throws
// HostError on a failure, after the instance has been terminated and freed.
SimulationSummary simulate(const Fmu& fmu, const SimulationSettings& settings,
                           const std::function<void(double time)>& progress = {});
