// A call of the model replayed with debug logging on, to show what the model says about a
// failure (or a warning) that it did not forward. The replay runs in a child process: a model
// whose instance has failed may crash or hang when called again, and the child's calls leave
// the run's instance, its result file and the result folder as they are. The child works in a
// scratch folder of its own (a new instance writes its "dsres.mat" there) with its standard
// streams on /dev/null and every other file of the host closed.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fmi/fmi_types.h"
#include "host/fmu_model.h"

struct ReplayOutcome {
  bool ended = false;  // the child reported the status of the replayed call
  fmiStatus status = fmiOK;
  // What the model logged while the replay captured its messages, in order.
  std::vector<std::pair<fmiStatus, std::string>> messages;
  // Why there is no outcome: the child did not end in time, died, or its set-up failed.
  std::string problem;
};

// A signal handler's flag (see SimulationSettings::interrupt): once it holds a signal's number
// no replay starts, and one under way is ended. Null: none.
using InterruptFlag = const volatile std::sig_atomic_t*;

// Runs body in a child process and returns what it reported. body runs the replay: it calls
// replay_capture(true) right before the call of interest and returns that call's status; it
// may call replay_setup_failed instead when the calls that lead to it fail. The child ends
// with the host. Never throws.
ReplayOutcome run_replay(const std::function<fmiStatus()>& body,
                         InterruptFlag interrupt) noexcept;

// In the child: whether the model's messages from now on belong to the report.
void replay_capture(bool on);
// In the child: a call before the replayed one failed; the child ends without an outcome.
[[noreturn]] void replay_setup_failed(const std::string& what);

// True in the child of run_replay: the host's logger hands every message to replay_message.
bool in_replay();
void replay_message(fmiStatus status, const std::string& text);

// A call of the model as it can be made again: its name, the call itself, whether it needs a
// new instance, and the point (time and states) the model must be at for it.
using Again = std::function<fmiStatus(fmiComponent)>;
struct ReplayRequest {
  std::string call;
  Again again;
  bool fresh = false;    // on a new instance: the run's own must not be called again
  bool atPoint = false;  // the time and states are set before the call
  double time = 0.0;
  std::vector<double> states;
};

// The replay on the run's own instance (after fmiDiscard or fmiWarning, which leave it
// usable): debug logging on, the point set, the call made again, all on the child's copy.
ReplayOutcome replay_on_instance(const FmiFunctions& fmi, fmiComponent c, const ReplayRequest& r,
                                 InterruptFlag interrupt);

// The lines of the model's messages, without empty lines and trailing blanks.
std::vector<std::string> message_lines(const std::vector<std::string>& messages);

// What follows the host's line about a failure: the lines the replay's call logged once more
// (at most 20, indented, without those of the messages already shown), or, where the replay
// shows nothing, why, in parentheses; outcome null: no replay was made.
std::string failure_report(const ReplayOutcome* outcome, const std::vector<std::string>& shown);

// A line of the report cut to a sensible length.
std::string cut_line(std::string line);
