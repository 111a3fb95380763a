// Animation encodings: shape-type codes and packed materials.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/animation_encodings.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(PackShape, TableNamesAndLeadingNumbers) {
  struct Case {
    const char* name;
    double code;
  };
  const Case cases[] = {
      {"box", 101},      {"sphere", 102},       {"cylinder", 103}, {"cone", 104},
      {"pipe", 105},     {"beam", 106},         {"wirebox", 107},  {"gearwheel", 108},
      {"vector", 109},   {"pipecylinder", 110}, {"spring", 111},   {"tire", 112},
      {"tyre", 112},
      // Whole names only, case-sensitive.
      {"Box", 200}, {"box ", 200}, {"pipecylinde", 200}, {"", 200},
      // Otherwise the leading integer, as atoi reads it, plus 200.
      {"12", 212}, {"12abc", 212}, {" \t-7", 193}, {"+5", 205}, {"0x10", 200}, {"- 3", 200},
      // Out of the int range: saturated before 200 is added.
      {"2147483647", 2147483847.0},
      {"2147483648", 2147483847.0},
      {"99999999999999999999999999", 2147483847.0},
      {"-2147483648", -2147483448.0},
      {"-2147483649", -2147483448.0},
      {"-99999999999999999999999999", -2147483448.0},
  };
  for (const Case& c : cases) EXPECT_EQ(pack_shape(c.name), c.code) << '"' << c.name << '"';
}

TEST(PackMaterial, PacksTruncatedDigits) {
  struct Case {
    double red, green, blue, specular;
    double code;
  };
  const Case cases[] = {
      {0.0, 0.501960784313725, 1.0, 0.7, 49996},  // blue 99.5 and specular 6.5 truncate down
      {1.0, 0.0, 0.0, 0.7, 9900006},
      {0.5, 0.5, 0.5, 0.5, 4949494},              // 49.5 and 4.5 truncate, not round
      {0.123, 0.456, 0.789, 0.3, 1145782},        // each digit in its own place
      {0.0, 0.0, 0.0, 0.0, 0},
      {1.0, 1.0, 1.0, 1.0, 9999999},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pack_material(c.red, c.green, c.blue, c.specular), c.code)
        << c.red << ", " << c.green << ", " << c.blue << ", " << c.specular;
}

// Each component alone, at the edges of its range: from 0.015 a colour digit is 1, from 0.995
// it is 99; from 0.15 the specular digit is 1, from 0.95 it is 9. Beyond the range, infinite
// or NaN, a component is clamped in double before it is converted (a NaN gives 0).
TEST(PackMaterial, ClampsEachComponent) {
  struct Case {
    double value;
    int colourDigit, specularDigit;
  };
  const Case cases[] = {
      {std::nextafter(0.015, 0.0), 0, 0}, {0.015, 1, 0},
      {std::nextafter(0.15, 0.0), 14, 0}, {0.15, 14, 1},
      {std::nextafter(0.95, 0.0), 94, 8}, {0.95, 94, 9},
      {std::nextafter(0.995, 0.0), 98, 9}, {0.995, 99, 9},
      {1.06, 99, 9}, {1.5, 99, 9}, {1e300, 99, 9}, {Inf, 99, 9},
      {-0.0, 0, 0}, {-0.004, 0, 0}, {-0.5, 0, 0}, {-1e300, 0, 0}, {-Inf, 0, 0}, {NaN, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "component " << c.value);
    const double d = c.colourDigit;
    EXPECT_EQ(pack_material(c.value, 0.0, 0.0, 0.0), d * 100000);
    EXPECT_EQ(pack_material(0.0, c.value, 0.0, 0.0), d * 1000);
    EXPECT_EQ(pack_material(0.0, 0.0, c.value, 0.0), d * 10);
    EXPECT_EQ(pack_material(0.0, 0.0, 0.0, c.value), c.specularDigit);
  }
}

}  // namespace
