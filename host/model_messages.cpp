#include "host/model_messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "host/console.h"

namespace {

constexpr size_t HeldLines = 300;         // lines of a call held at most, of each kind
constexpr size_t ReportLines = 20;        // lines of a report shown at most
constexpr size_t ReportLineLength = 300;  // characters of one line shown at most

// The logger has no user pointer: the one instance of the process logs here.
bool print = false;
CallMessages held;

std::string without_line_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

size_t lines_in(const std::string& text, size_t from) {
  return 1 + static_cast<size_t>(std::count(text.begin() + static_cast<long>(from), text.end(), '\n'));
}

// A message is held up to the bound of its kind, line by line; the lines beyond it are counted.
void hold(fmiStatus status, std::string text) {
  ++messagesArrived;
  const bool error = status >= fmiError;
  size_t& count = error ? held.heldErrors : held.heldLines;
  size_t& dropped = error ? held.droppedErrors : held.droppedLines;
  size_t kept = 0;
  size_t rest = 0;  // where the lines beyond the bound begin; npos: there are none
  while (count + kept < HeldLines && rest != std::string::npos) {
    const size_t end = text.find('\n', rest);
    rest = end == std::string::npos ? end : end + 1;
    ++kept;
  }
  if (rest != std::string::npos) {
    dropped += lines_in(text, rest);
    if (kept == 0) return;
    text.resize(rest - 1);
  }
  count += kept;
  held.messages.push_back({status, std::move(text)});
}

// The lines of the messages, without empty lines and trailing blanks.
std::vector<std::string> lines_of(const std::vector<ModelMessage>& messages, bool errorsOnly) {
  std::vector<std::string> lines;
  for (const ModelMessage& m : messages) {
    if (errorsOnly && m.status < fmiError) continue;
    for (size_t begin = 0; begin <= m.text.size();) {
      size_t end = m.text.find('\n', begin);
      if (end == std::string::npos) end = m.text.size();
      std::string line = m.text.substr(begin, end - begin);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
        line.pop_back();
      if (!line.empty()) lines.push_back(std::move(line));
      begin = end + 1;
    }
  }
  return lines;
}

std::string cut_line(std::string line) {
  if (line.size() > ReportLineLength) line = line.substr(0, ReportLineLength - 3) + "...";
  return line;
}

}  // namespace

const char* status_name(fmiStatus status) {
  switch (status) {
    case fmiOK: return "fmiOK";
    case fmiWarning: return "fmiWarning";
    case fmiDiscard: return "fmiDiscard";
    case fmiError: return "fmiError";
    case fmiFatal: return "fmiFatal";
  }
  return "unknown status";
}

// An FMI 1.0 logger formats its message with the arguments that follow it, as printf does.
void host_logger(fmiComponent, fmiString instanceName, fmiStatus status, fmiString category,
                 fmiString message, ...) {
  char buffer[8192];
  buffer[0] = '\0';
  if (message != nullptr) {
    va_list args;
    va_start(args, message);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(buffer, sizeof buffer, message, args);
#pragma GCC diagnostic pop
    va_end(args);
  }
  try {
    std::string text = without_line_end(buffer);
    if (print) {
      print_err("[%s] [%s] %s: %s\n", status_name(status), category ? category : "",
                instanceName ? instanceName : "", text.c_str());
    }
    hold(status, std::move(text));
  } catch (...) {
    // Out of memory: the message is lost, the model's call goes on.
  }
}

void print_model_messages(bool on) { print = on; }
bool printing_model_messages() { return print; }

CallMessages take_call_messages() {
  CallMessages taken = std::move(held);
  held = CallMessages{};
  messagesArrived = 0;
  return taken;
}

void drop_call_messages() {
  held.messages.clear();
  held.heldLines = held.heldErrors = held.droppedLines = held.droppedErrors = 0;
  messagesArrived = 0;
}

std::string error_messages(const CallMessages& m) {
  std::string text;
  for (const ModelMessage& message : m.messages)
    if (message.status >= fmiError) text += (text.empty() ? "" : "; ") + message.text;
  return text;
}

std::string report_lines(const CallMessages& m) {
  const std::vector<std::string> shown = lines_of(m.messages, true);
  std::vector<std::string> report;
  for (std::string& line : lines_of(m.messages, false))
    if (std::find(shown.begin(), shown.end(), line) == shown.end())
      report.push_back(std::move(line));
  std::string text;
  for (size_t i = 0; i < report.size() && i < ReportLines; ++i)
    text += "\n  " + cut_line(report[i]);
  const size_t more = report.size() - std::min(report.size(), ReportLines) + m.droppedLines;
  if (more > 0)
    text += "\n  ... " + std::to_string(more) + " more lines (--log shows them all)";
  return text;
}

std::string warning_text(const CallMessages& m) {
  std::vector<ModelMessage> warnings;
  for (const ModelMessage& message : m.messages)
    if (message.status == fmiWarning) warnings.push_back(message);
  std::string text;
  for (const std::string& line : lines_of(warnings.empty() ? m.messages : warnings, false))
    text += (text.empty() ? "" : "; ") + line;
  return cut_line(text);
}
