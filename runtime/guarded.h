// Guarded square root and division of the generated model code. The texts are the model's
// own texts of the operands, at most 400 characters (longer ones are stored cut to their first
// 397 characters and "..."); they go into the model error's report.
#pragma once

#include <cmath>

#include "runtime/output.h"

// sqrt(x) for x >= 0; a negative or NaN x raises the range error and does not return.
inline double guarded_sqrt(double x, const char* text) {
  if (!(x >= 0.0)) model_range_error(text, x, "sqrt");
  return std::sqrt(x);
}

// n / d unless d compares equal to 0 (so -0 raises, a NaN denominator divides).
inline double guarded_divide(double n, const char* numeratorText, double d,
                             const char* denominatorText) {
  if (d == 0.0) model_division_by_zero(numeratorText, n, denominatorText, d);
  return n / d;
}
