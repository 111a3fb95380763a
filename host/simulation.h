// The run of one simulation over the FMI calls: instantiation, the --set values,
// initialisation, the integration with root finding on the event indicators, state, time and
// step events, the output points, termination.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/assignments.h"
#include "host/experiment.h"
#include "host/fmi_library.h"
#include "host/model_description.h"
#include "host/result_file.h"

struct SimulationSettings : Experiment {
  bool log = false;  // debug logging, every message on stderr
  // A signal handler's flag: once it holds a signal's number the run ends after the step it
  // is in, as at the stop time (the model terminated and freed), and says so in its summary.
  const volatile std::sig_atomic_t* interrupt = nullptr;
  // Called once the model is initialised (when it has made its result file).
  std::function<void()> initialized;
};

struct SimulationSummary {
  long steps = 0;         // completed integrator steps
  long events = 0;        // state, time and step events handled
  long outputPoints = 0;  // points of the output grid reached
  ExpectedRows rowsExpected;  // in the result file
  double endTime = 0.0;
  bool stoppedByModel = false;
  long warnings = 0;         // calls that returned fmiWarning
  std::string firstWarning;  // the first of them: the call, the time and the model's message
  int interruptedBy = 0;  // the signal that ended the run early, 0 for none
  bool started = false;   // the model was instantiated (an interrupt can come before)
  std::vector<std::pair<std::string, double>> finalStates;  // by name, in state order
};

// Runs one simulation of the loaded model. The model writes its result into the current
// directory. Throws HostError on a failure, after the instance has been terminated and freed.
SimulationSummary simulate(const FmiFunctions& fmi, const ModelDescription& description,
                           const std::vector<ResolvedAssignment>& assignments,
                           const SimulationSettings& settings,
                           const std::function<void(double time)>& progress = {});
