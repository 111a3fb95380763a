// The runtime's text output and its error path: log lines, labelled printers, model errors
// with their report of time and function-name stack.
#pragma once

// Printers that end in the C++ library's own formatting (glibc; mingw's C99 stdio on Windows).
#define TAVELO_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))

// One line to the host log (the logger appends the line end).
void log_message_line(const char* text);
// The same without a line end.
void log_message_text(const char* text);

void print_labelled_real(const char* label, double value);
int print_labelled_real_status(const char* label, double value);
void print_labelled_integer(const char* label, long value);
void print_matrix_element(const char* name, long row, long column, double value);
void print_real_vector(const char* name, const double* values, int n);
void print_real_matrix(const char* name, const double* values, int rows, int columns, int ld);
void scatter_column_values(double* dst, int ld, int unused, const int* rowIndex, const double* src,
                           int n);

// Report a model error and return to the model entry; never returns.
[[noreturn]] double model_error(const char* message);
// Returns when condition is nonzero; otherwise logs conditionText and raises model_error.
void model_assert(int condition, const char* conditionText, const char* message);
[[noreturn]] void model_range_error(const char* argumentText, double argument, const char* function);
[[noreturn]] double model_division_by_zero(const char* numeratorText, double numerator,
                                           const char* denominatorText, double denominator);
