// Translated Modelica functions: table interpolation, vector length, smooth transition.
#include "model/modelica_math.h"

#include <cmath>

#include "runtime/output.h"
#include "runtime/runtime_state.h"

namespace Modelica::Math {

double tempInterpol1(double u, RealArray table, int column) {
  FunctionFrame frame{"Modelica.Math.tempInterpol1", modelRuntime.functionStack};
  modelRuntime.functionStack = &frame;
  const MatrixMark saved = PushMark();

  double result;
  const int32_t n = ArraySize(table, 1);
  if (n <= 1) {
    result = RealArrayGet(table, 1, column);
  } else {
    // The row that starts the interval holding u; at both ends the outer interval is used.
    int32_t i;
    if (!(RealArrayGet(table, 1, 1) < u)) {
      i = 1;
    } else {
      i = 2;
      while (i < n && RealArrayGet(table, i, 1) <= u) i = i + 1;
      i = i - 1;
    }
    const double u1 = RealArrayGet(table, i, 1);
    const double u2 = RealArrayGet(table, i + 1, 1);
    const double y1 = RealArrayGet(table, i, column);
    const double y2 = RealArrayGet(table, i + 1, column);
    const double numerator = (u - u1) * (y2 - y1);
    const double denominator = u2 - u1;
    if (denominator == 0) model_division_by_zero("(y2-y1)*(u-u1)", numerator, "u2-u1", denominator);
    result = y1 + numerator / denominator;
  }

  PopMark(saved);
  modelRuntime.functionStack = frame.next;
  return result;
}

double tempInterpol1_two_rows(double u, const double* table) {
  // With two rows the interval always starts at row 1, wherever u lies.
  const double u1 = table[0];
  const double u2 = table[2];
  const double y1 = table[1];
  const double y2 = table[3];
  const double numerator = (u - u1) * (y2 - y1);
  const double denominator = u2 - u1;
  if (denominator == 0) {
    FunctionFrame frame{"Modelica.Math.tempInterpol1", modelRuntime.functionStack};
    modelRuntime.functionStack = &frame;
    model_division_by_zero("(y2-y1)*(u-u1)", numerator, "u2-u1", denominator);
  }
  return y1 + numerator / denominator;
}

namespace Vectors {

double length(RealArray v) {
  FunctionFrame frame{"Modelica.Math.Vectors.length", modelRuntime.functionStack};
  modelRuntime.functionStack = &frame;
  const MatrixMark saved = PushMark();

  const double s = RealScalarProduct(v, v);
  if (!(s >= 0)) model_range_error("v*v", s, "sqrt");
  const double result = std::sqrt(s);

  ReleaseTemporaries();
  PopMark(saved);
  modelRuntime.functionStack = frame.next;
  return result;
}

}  // namespace Vectors

}  // namespace Modelica::Math

double smooth_step(double x, double dx) {
  if (dx < 0) {
    x = -x;
    dx = -dx;
  }
  if (x <= -dx) return 0.0;
  if (x >= dx) return 1.0;
  const double a = std::asin(1.0);
  return (std::tanh(std::tan(a * x / dx)) + 1) / 2;
}

double smooth_step_der(double x, double dx, double der_x, double der_dx) {
  if (dx < 0) {
    x = -x;
    dx = -dx;
    der_x = -der_x;
    der_dx = -der_dx;
  }
  if (x <= -dx || x >= dx) return 0.0;
  const double a = std::asin(1.0);
  const double q = x / dx;
  const double s = q * a;
  const double w = std::cos(s) * std::cosh(std::tan(s));
  return ((der_x - q * der_dx) * a / (2 * dx)) / (w * w);
}

double smooth_transition_der(double pos, double neg, double x, double dx, double pos_der,
                             double neg_der, double der_x, double der_dx) {
  const double y = smooth_step(x, dx);
  const double t1 = y > 0 ? pos_der : 0.0;
  const double t2 = y < 1 ? neg_der : 0.0;
  const double t3 = (y > 0 && y < 1) ? smooth_step_der(x, dx, der_x, der_dx) * (pos - neg) : 0.0;
  return y * t1 + (1 - y) * t2 + t3;
}
