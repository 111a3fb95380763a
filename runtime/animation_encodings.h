// Animation encodings: shape types and materials of the animation objects carried as Real
// variables, so that a result file of plain numbers can drive a viewer.
#pragma once

// The code of a shape-type name (a non-null text): 101 "box" ... 112 "tire" or "tyre" for the
// whole names of the shape table (case-sensitive); any other text gives its leading integer
// plus 200, the integer read as atoi reads it but saturated at the int limits.
double pack_shape(const char* name);

// Colour fractions (0..1 of 255) and specular coefficient (0..1) packed as RRGGBBS: each colour
// in 0..99 and the coefficient in 0..9, from (int)(x * 100 - 0.5) and (int)(x * 10 - 0.5)
// clamped to their ranges (a NaN gives 0).
double pack_material(double red, double green, double blue, double specular);
