// The model's messages. Every run instantiates the model with debug logging on, so the model
// says what it has to say while the call is made. With --log each message is printed at once.
// The messages of the call being made are held (a bounded number of lines, the rest counted)
// until its status is checked, which drops them or keeps them for a report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fmi/fmi_types.h"

struct ModelMessage {
  fmiStatus status = fmiOK;
  std::string text;
};

// The messages of one call.
struct CallMessages {
  std::vector<ModelMessage> messages;
  size_t heldLines = 0;     // lines of the messages below fmiError that are held
  size_t heldErrors = 0;    // lines of those of fmiError and fmiFatal
  size_t droppedLines = 0;  // lines below fmiError beyond the bound: counted, not held
  size_t droppedErrors = 0; // lines of fmiError and fmiFatal beyond it
};

// "fmiOK", "fmiWarning", ...
const char* status_name(fmiStatus status);

// The logger handed to the model: prints with --log, and holds the call's messages.
void host_logger(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                 fmiString message, ...);

// --log: every message is printed as it comes.
void print_model_messages(bool on);
bool printing_model_messages();

// The messages of the call just made; the next call's start with none.
CallMessages take_call_messages();
void drop_call_messages();

// How many messages arrived since the last take or drop: read on every call of the model, so
// it is here, inline.
inline size_t messagesArrived = 0;
// Whether the call just made said anything.
inline bool call_said_anything() { return messagesArrived != 0; }

// What a host without debug logging gets to see: the messages of fmiError and fmiFatal,
// joined by "; ".
std::string error_messages(const CallMessages& m);
// The other lines of the messages, to follow the host's line about a failure: at most 20, each
// indented on a line of its own, the rest counted.
std::string report_lines(const CallMessages& m);
// A warning's message in one line: those of status fmiWarning, else all, their lines joined
// by "; ", cut to a sensible length.
std::string warning_text(const CallMessages& m);
