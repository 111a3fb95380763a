#include "runtime/animation_encodings.h"

#include <climits>
#include <cstring>

namespace {

struct ShapeCode {
  const char* name;
  double code;
};

constexpr ShapeCode shapeCodes[] = {
    {"box", 101.0},      {"sphere", 102.0},       {"cylinder", 103.0}, {"cone", 104.0},
    {"pipe", 105.0},     {"beam", 106.0},         {"wirebox", 107.0},  {"gearwheel", 108.0},
    {"vector", 109.0},   {"pipecylinder", 110.0}, {"spring", 111.0},   {"tire", 112.0},
    {"tyre", 112.0},
};

constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The leading integer of text as atoi reads it (blanks, a sign, digits; 0 when there are no
// digits), saturated at the int limits instead of overflowing.
int leading_integer(const char* text) {
  while (is_space(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulated as a negative number, whose range holds INT_MIN.
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 - (*text - '0');
    if (value < INT_MIN) return negative ? INT_MIN : INT_MAX;
  }
  if (negative) return static_cast<int>(value);
  return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}

// (int)(scaled - 0.5) truncated towards zero and clamped to 0..top, clamped while still a
// double so that a NaN or huge value converts to a defined integer (a NaN gives 0).
int packed_digit(double scaled, int top) {
  const double v = scaled - 0.5;
  if (!(v >= 0.0)) return 0;
  if (v >= top) return top;
  return static_cast<int>(v);
}

}  // namespace

double pack_shape(const char* name) {
  for (const ShapeCode& shape : shapeCodes)
    if (std::strcmp(name, shape.name) == 0) return shape.code;
  return static_cast<double>(leading_integer(name)) + 200.0;
}

double pack_material(double red, double green, double blue, double specular) {
  const int R = packed_digit(red * 100.0, 99);
  const int G = packed_digit(green * 100.0, 99);
  const int B = packed_digit(blue * 100.0, 99);
  const int S = packed_digit(specular * 10.0, 9);
  return static_cast<double>(((R * 100 + G) * 100 + B) * 10 + S);
}
