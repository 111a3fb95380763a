// The axis-label geometry, the materials and the closing parameters at the FMI boundary: read
// with fmiGetReal after fmiInitialize, with the start values and with parameters set before
// it; the failure that a NaN label scale causes.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fmi_fixture.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Parameters.
constexpr uint32_t WorldG = 0;
constexpr uint32_t GravityArrowTail2 = 4;
constexpr uint32_t DefaultFrameDiameterFraction = 8;
constexpr uint32_t DefaultSpecularCoefficient = 9;
constexpr uint32_t ArmM = 17;

// Auxiliaries, by cylinder: length, abs_n_x, e_x[1], e_y[1] (the x and y cylinders compute
// e_x[1..2] and e_y[1..2], the z cylinders e_x[1], e_x[3] (and the tilted one e_x[2]) and
// e_y[1..3]).
struct Cylinder {
  const char* name;
  uint32_t length, absNx, ex, ey;
};
const Cylinder XLabel1{"world.x_label.cylinders[1]", 234, 240, 241, 246};
const Cylinder XLabel2{"world.x_label.cylinders[2]", 278, 284, 285, 290};
const Cylinder YLabel1{"world.y_label.cylinders[1]", 478, 484, 485, 490};
const Cylinder YLabel2{"world.y_label.cylinders[2]", 524, 530, 531, 536};
const Cylinder ZLabel1{"world.z_label.cylinders[1]", 725, 731, 732, 736};
const Cylinder ZLabel2{"world.z_label.cylinders[2]", 768, 774, 775, 779};
const Cylinder ZLabel3{"world.z_label.cylinders[3]", 809, 815, 816, 820};
const Cylinder Flat[] = {XLabel1, XLabel2, YLabel1, YLabel2};
const Cylinder Upright[] = {ZLabel1, ZLabel2, ZLabel3};

constexpr uint32_t YLines212 = 427, YLines222 = 428;  // world.y_label.lines[2, 1, 2], [2, 2, 2]
constexpr uint32_t Y1LengthDirection1 = 473;
constexpr uint32_t Y2LengthDirection1 = 518, Y2LengthDirection2 = 519;

constexpr uint32_t GravityArrowHeadShape2 = 891;  // world.gravityArrowHead.r_shape[2]
constexpr uint32_t ArmFrameAForce2 = 1058;        // arm.body.frame_a.f[2]
const uint32_t ShapeMaterials[] = {1209, 1248, 1488, 1517};  // arm.shape1/2, pendulum.shape1/2
const uint32_t JointMaterials[] = {1635, 1725};  // armJoint.cylinder, pendulumJoint.cylinder

class LabelsAndMaterials : public ParameterTest {
 protected:
  // Exactly, a zero with its sign.
  void expect_exact(uint32_t k, double expected, const std::string& what) {
    const double v = aux(k);
    EXPECT_EQ(v, expected) << what;
    EXPECT_EQ(std::signbit(v), std::signbit(expected)) << what << " = " << v;
  }
  // To the 15 significant digits the value is known to.
  void expect_near(uint32_t k, double expected, const std::string& what) {
    EXPECT_NEAR(aux(k), expected, 1e-15 * std::fabs(expected)) << what;
  }
  void expect_materials(double shapes, double joints) {
    for (uint32_t k : ShapeMaterials) EXPECT_EQ(aux(k), shapes) << "auxiliary " << k;
    for (uint32_t k : JointMaterials) EXPECT_EQ(aux(k), joints) << "auxiliary " << k;
  }
};

TEST_F(LabelsAndMaterials, StartValues) {
  create_initialized();
  const double r = 0.707106781186548, p = 0.832050294337844, q = 0.554700196225229;
  struct Flat {
    const Cylinder& c;
    double length, ex1, ex2, ey1, ey2;
  };
  const Flat flat[] = {
      {XLabel1, 0.0530330085889911, r, r, -r, r},
      {XLabel2, 0.0530330085889911, r, -r, r, r},
      {YLabel1, 0.0676040864149498, -p, q, q, p},
      {YLabel2, 0.0338020432074749, p, q, -q, p},
  };
  for (const Flat& f : flat) {
    const std::string n = f.c.name;
    expect_near(f.c.length, f.length, n + ".length");
    expect_near(f.c.absNx, f.length, n + ".abs_n_x");
    expect_near(f.c.ex, f.ex1, n + ".e_x[1]");
    expect_near(f.c.ex + 1, f.ex2, n + ".e_x[2]");
    expect_near(f.c.ey, f.ey1, n + ".e_y[1]");
    expect_near(f.c.ey + 1, f.ey2, n + ".e_y[2]");
  }
  for (const Cylinder& c : {ZLabel1, ZLabel2}) {
    const std::string n = c.name;
    expect_near(c.length, 0.0375, n + ".length");
    expect_near(c.absNx, 0.0375, n + ".abs_n_x");
    expect_exact(c.ex, 0.0, n + ".e_x[1]");
    expect_exact(c.ex + 2, 1.0, n + ".e_x[3]");
    expect_exact(c.ey, 0.0, n + ".e_y[1]");
    expect_exact(c.ey + 1, 1.0, n + ".e_y[2]");
    expect_exact(c.ey + 2, -0.0, n + ".e_y[3]");
  }
  expect_near(ZLabel3.length, 0.0530330085889911, "z3.length");
  expect_exact(ZLabel3.ex, 0.0, "z3.e_x[1]");
  expect_near(ZLabel3.ex + 1, -r, "z3.e_x[2]");
  expect_near(ZLabel3.ex + 2, r, "z3.e_x[3]");
  expect_exact(ZLabel3.ey, 0.0, "z3.e_y[1]");
  expect_near(ZLabel3.ey + 1, r, "z3.e_y[2]");
  expect_near(ZLabel3.ey + 2, r, "z3.e_y[3]");
  expect_near(YLines212, 0.05625, "world.y_label.lines[2, 1, 2]");
  expect_near(YLines222, 0.028125, "world.y_label.lines[2, 2, 2]");
  expect_near(Y1LengthDirection1, -0.05625, "y1.lengthDirection[1]");
  expect_near(Y2LengthDirection1, 0.028125, "y2.lengthDirection[1]");
  expect_near(Y2LengthDirection2, 0.01875, "y2.lengthDirection[2]");
  // To the bit: the root of 2*s*s (s*sqrt(2) differs in the last bit).
  expect_exact(XLabel1.length, 0x1.b27247aff1490p-5, "x1.length");
  expect_exact(XLabel1.ex, 0x1.6a09e667f3bcdp-1, "x1.e_x[1]");

  expect_exact(GravityArrowHeadShape2, -0.2, "world.gravityArrowHead.r_shape[2]");
  expect_materials(49996, 9900006);
  expect_exact(ArmFrameAForce2, 0.165 * 9.81, "arm.body.frame_a.f[2]");
  EXPECT_NEAR(aux(ArmFrameAForce2), 1.61865, 1e-15);
}

TEST_F(LabelsAndMaterials, ParametersSetBeforeInitialization) {
  struct Case {
    const char* name;
    std::vector<Setting> settings;
    double shapes, joints, force, headOffset;
  };
  const Case cases[] = {
      {"specular 0", {{DefaultSpecularCoefficient, 0.0}}, 49990, 9900000, 0.165 * 9.81, -0.2},
      {"specular 1", {{DefaultSpecularCoefficient, 1.0}}, 49999, 9900009, 0.165 * 9.81, -0.2},
      {"specular NaN", {{DefaultSpecularCoefficient, NaN}}, 49990, 9900000, 0.165 * 9.81, -0.2},
      {"arm.m", {{ArmM, 0.5}}, 49996, 9900006, 0.5 * 9.81, -0.2},
      {"world.g", {{WorldG, 3.5}}, 49996, 9900006, 0.165 * 3.5, -0.2},
      {"gravity arrow tail", {{GravityArrowTail2, 0.5}}, 49996, 9900006, 0.165 * 9.81, 0.5 - 0.2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_EQ(initialize_with(k.settings), fmiOK);
    expect_materials(k.shapes, k.joints);
    expect_exact(ArmFrameAForce2, k.force, "arm.body.frame_a.f[2]");
    expect_exact(GravityArrowHeadShape2, k.headOffset, "world.gravityArrowHead.r_shape[2]");
    instance.reset();
  }
}

// The label scale follows world.defaultFrameDiameterFraction: 3 * 0.5 / fraction.
TEST_F(LabelsAndMaterials, LabelScaleFollowsTheFrameDiameterFraction) {
  const double r = 0.707106781186548;
  {
    SCOPED_TRACE("fraction 4: s = 0.375");
    ASSERT_EQ(initialize_with({{DefaultFrameDiameterFraction, 4}}), fmiOK);
    expect_exact(ZLabel1.length, 0.375, "z1.length");
    expect_exact(YLines212, 1.5 * 0.375, "world.y_label.lines[2, 1, 2]");
    expect_near(XLabel1.length, 0.530330085889911, "x1.length");
    expect_near(XLabel1.ey, -r, "x1.e_y[1]");
    instance.reset();
  }
  {
    SCOPED_TRACE("negative fraction: the strokes turn, e_y does not");
    ASSERT_EQ(initialize_with({{DefaultFrameDiameterFraction, -40}}), fmiOK);
    expect_near(XLabel1.ex, -r, "x1.e_x[1]");
    expect_near(XLabel1.ex + 1, -r, "x1.e_x[2]");
    expect_near(XLabel1.ey, -r, "x1.e_y[1]");
    expect_near(XLabel1.ey + 1, r, "x1.e_y[2]");
    instance.reset();
  }
  {
    // An infinite fraction gives s = 0: no guard fails, every cylinder points along x.
    SCOPED_TRACE("infinite fraction: s = 0");
    ASSERT_EQ(initialize_with({{DefaultFrameDiameterFraction, Inf}}), fmiOK);
    for (const Cylinder& c : Flat) {
      const std::string n = c.name;
      expect_exact(c.length, 0.0, n + ".length");
      expect_exact(c.absNx, 0.0, n + ".abs_n_x");
      expect_exact(c.ex, 1.0, n + ".e_x[1]");
      expect_exact(c.ex + 1, 0.0, n + ".e_x[2]");
      expect_exact(c.ey, -0.0, n + ".e_y[1]");
      expect_exact(c.ey + 1, 1.0, n + ".e_y[2]");
    }
    for (const Cylinder& c : Upright) {
      const std::string n = c.name;
      expect_exact(c.length, 0.0, n + ".length");
      expect_exact(c.ex, 1.0, n + ".e_x[1]");
      expect_exact(c.ex + 2, 0.0, n + ".e_x[3]");
      expect_exact(c.ey, 0.0, n + ".e_y[1]");
      expect_exact(c.ey + 1, 1.0, n + ".e_y[2]");
      expect_exact(c.ey + 2, -0.0, n + ".e_y[3]");
    }
    instance.reset();
  }
}

// A NaN fraction makes the label scale NaN, which fails the first root of the labels: the
// report (at fmiOK, shown with debug logging), then the interface's message at fmiError. The
// values before the failure are stored, the labels and materials are not.
TEST_F(LabelsAndMaterials, NaNFrameDiameterFractionFailsTheFirstLabelRoot) {
  ASSERT_EQ(initialize_with({{DefaultFrameDiameterFraction, NaN}}, fmiTrue), fmiError);
  const std::vector<std::string> expected = {
      "The following error was detected at time: 0\n",
      "\nModel error - sqrt (2*world.scaledLabel*world.scaledLabel) = sqrt (nan)\n\n",
      "fmiInitialize: dsblock_ failed, QiErr = 1\n"};
  EXPECT_EQ(logged_texts(), expected);
  ASSERT_EQ(logged_messages().size(), expected.size());
  EXPECT_EQ(logged_messages()[0].status, fmiOK);
  EXPECT_EQ(logged_messages()[1].status, fmiOK);
  EXPECT_EQ(logged_messages()[2].status, fmiError);
  EXPECT_TRUE(std::isnan(m().auxiliaries[56]));         // world.scaledLabel
  EXPECT_EQ(m().auxiliaries[1753], 0.002);              // computed before the labels
  EXPECT_EQ(m().auxiliaries[XLabel1.length], 0.0);      // not reached
  EXPECT_EQ(m().auxiliaries[ShapeMaterials[0]], 0.0);
}

}  // namespace
