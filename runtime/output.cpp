// Text output of the model runtime and its error path. All formatting here is in the process's
// current locale; every buffer is written with bounded formatting, so an over-long text is cut.
#include "runtime/output.h"

#include <cstdio>
#include <cstring>

#include "fmi/model_instance.h"
#include "runtime/runtime_state.h"

namespace {

// Appends text to a NUL-terminated line held in buf[size], cutting it at the buffer's end.
void append(char* buf, size_t size, const char* text) {
  size_t used = std::strlen(buf);
  if (used + 1 >= size) return;
  std::snprintf(buf + used, size - used, "%s", text);
}

}  // namespace

void log_message_line(const char* text) { log_model_message(text, 1); }

void log_message_text(const char* text) { log_model_message(text, 0); }

void print_labelled_real(const char* label, double value) {
  char line[200];
  std::snprintf(line, sizeof line, "%.160s %.16G", label, value);
  log_message_line(line);
}

int print_labelled_real_status(const char* label, double value) {
  print_labelled_real(label, value);
  return 0;
}

void print_labelled_integer(const char* label, long value) {
  char line[200];
  std::snprintf(line, sizeof line, "%.160s %li", label, value);
  log_message_line(line);
}

void print_matrix_element(const char* name, long row, long column, double value) {
  char line[200];
  std::snprintf(line, sizeof line, "  %.160s[%li, %li] = %G", name, row, column, value);
  log_message_line(line);
}

void print_real_vector(const char* name, const double* values, int n) {
  char line[2000];
  char value[100];
  std::snprintf(line, sizeof line, "%s = {", name);
  for (int k = 0; k < n; ++k) {
    if (k > 0) append(line, sizeof line, ", ");
    std::snprintf(value, sizeof value, "%G", values[k]);
    append(line, sizeof line, value);
  }
  append(line, sizeof line, "}");
  log_message_line(line);
}

void print_real_matrix(const char* name, const double* values, int rows, int columns, int ld) {
  char line[300];
  char value[100];
  std::snprintf(line, sizeof line, "%s = {", name);
  log_message_line(line);
  log_message_line("");
  for (int i = 1; i <= rows; ++i) {
    std::snprintf(line, sizeof line, "{");
    for (int j = 1; j <= columns; ++j) {
      if (j > 1) append(line, sizeof line, ", ");
      // A long row is logged in pieces that end in ", ".
      if (std::strlen(line) > 200) {
        log_message_line(line);
        line[0] = '\0';
      }
      std::snprintf(value, sizeof value, "%G", values[(i - 1) + static_cast<long>(ld) * (j - 1)]);
      append(line, sizeof line, value);
    }
    append(line, sizeof line, "}");
    if (i < rows) append(line, sizeof line, ", ");
    log_message_line(line);
  }
  log_message_line("");
  log_message_line("};");
}

void scatter_column_values(double* dst, int ld, int /*unused*/, const int* rowIndex,
                           const double* src, int n) {
  for (int k = 1; k <= n; ++k)
    dst[(rowIndex[k - 1] - 1) + static_cast<long>(ld) * (k - 1)] = src[k - 1];
}

double model_error(const char* message) {
  if (!(modelRuntime.printFlags & PrintFlagQuiet)) {
    print_labelled_real("The following error was detected at time:", modelRuntime.time);
    log_message_line(message);
    if (modelRuntime.functionStack != nullptr) {
      log_message_line("The stack of functions is:");
      while (FunctionFrame* frame = modelRuntime.functionStack) {
        log_message_line(frame->name);
        modelRuntime.functionStack = frame->next;
      }
    }
  }
  // With the quiet bit the stack keeps its frames; the model entry empties it after the jump.
  modelRuntime.status = RunStatusError;
  throw ModelErrorReturn{1};
}

void model_assert(int condition, const char* conditionText, const char* message) {
  if (condition) return;
  log_message_line(conditionText);
  model_error(message);
}

void model_range_error(const char* argumentText, double argument, const char* function) {
  char message[1000];
  std::snprintf(message, sizeof message, "\nModel error - %s (%.400s) = %s (%g)\n", function,
                argumentText, function, argument);
  model_error(message);
}

double model_division_by_zero(const char* numeratorText, double numerator,
                              const char* denominatorText, double denominator) {
  char message[1000];
  std::snprintf(message, sizeof message,
                "\nModel error - division by zero: (%.400s) / (%.400s) = (%g) / (%g)\n",
                numeratorText, denominatorText, numerator, denominator);
  model_error(message);
}
