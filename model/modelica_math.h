// Translated Modelica functions of the model: linear table interpolation, vector length, and
// the smooth switch between two values with its time derivative.
#pragma once

#include "source/matrixop.h"

namespace Modelica::Math {

// Interpolates column `column` of table (n rows, abscissas ascending in column 1) at u; the
// first and last intervals are extended beyond the table's ends.
double tempInterpol1(double u, RealArray table, int column);

// tempInterpol1(u, table, 2) for a table of two rows whose four elements stand row-major at
// `table`, read directly instead of through an array record: the same arithmetic in the same
// order, and the same model error (with the function's frame on the stack) for two equal
// abscissas.
double tempInterpol1_two_rows(double u, const double* table);

namespace Vectors {
// The Euclidean length of the vector v.
double length(RealArray v);
}  // namespace Vectors

}  // namespace Modelica::Math

// A smooth step from 0 (x <= -|dx|) to 1 (x >= |dx|).
double smooth_step(double x, double dx);
// The time derivative of smooth_step(x, dx).
double smooth_step_der(double x, double dx, double der_x, double der_dx);
// The time derivative of pos*y + (1 - y)*neg with y = smooth_step(x, dx); the derivative of a
// branch that is switched off does not enter the result.
double smooth_transition_der(double pos, double neg, double x, double dx, double pos_der,
                             double neg_der, double der_x, double der_dx);
