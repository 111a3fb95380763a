// Materials and closing parameters: the gravity arrow's head offset, the six encoded materials
// and the arm's weight at its frame_a, from the values they read.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dsblock_fixture.h"
#include "model/body_sections.h"
#include "model/variable_table.h"

namespace {

constexpr double Unwritten = -777.0;

int auxiliary(const char* name) {
  const VariableRecord* record = find_variable(name);
  EXPECT_TRUE(record != nullptr && record_kind(*record) == KindAuxiliary) << name;
  return record ? variable_position(record) : 0;
}
int parameter(const char* name) {
  const VariableRecord* record = find_variable(name);
  EXPECT_TRUE(record != nullptr && record_kind(*record) == KindParameter) << name;
  return record ? variable_position(record) : 0;
}

const char* const ShapeMaterials[] = {"arm.shape1.Material", "arm.shape2.Material",
                                      "pendulum.shape1.Material", "pendulum.shape2.Material"};
const char* const JointMaterials[] = {"armJoint.cylinder.Material",
                                      "pendulumJoint.cylinder.Material"};

class MaterialsSection : public ModelEntryTest {
 protected:
  // The inputs at their start values (as the parameter section leaves them).
  void SetUp() override {
    ModelEntryTest::SetUp();
    for (double& v : w) v = Unwritten;
    dp[parameter("world.gravityArrowTail[2]")] = 0.0;
    dp[parameter("world.defaultSpecularCoefficient")] = 0.7;
    w[auxiliary("world.gravityLineLength")] = 0.25 - 4.0 * (0.25 / 20.0);
    w[auxiliary("arm.body.m")] = 0.165;
    w[auxiliary("arm.body.g_0[2]")] = -9.81;
  }
  void run() {
    int32_t demand = DemandInitialize;
    int32_t QiErr = 0;
    materials_and_closing_parameters(args(&demand, &QiErr));
  }
  void expect_materials(double shapes, double joints) {
    for (const char* name : ShapeMaterials) EXPECT_EQ(w[auxiliary(name)], shapes) << name;
    for (const char* name : JointMaterials) EXPECT_EQ(w[auxiliary(name)], joints) << name;
  }
};

TEST_F(MaterialsSection, StartValues) {
  run();
  EXPECT_EQ(w[auxiliary("world.gravityArrowHead.r_shape[2]")], -0.2);
  expect_materials(49996, 9900006);
  EXPECT_EQ(w[auxiliary("arm.body.frame_a.f[2]")], 0.165 * 9.81);
  EXPECT_NEAR(w[auxiliary("arm.body.frame_a.f[2]")], 1.61865, 1e-15);

  // Nothing else is written.
  int written = 0;
  for (double v : w) written += v != Unwritten;
  EXPECT_EQ(written, 3 + 8);  // its 8 results besides the 3 auxiliaries it reads
}

TEST_F(MaterialsSection, SpecularCoefficientSetsTheLastDigit) {
  struct Case {
    double specular;
    double shapes, joints;
  };
  const Case cases[] = {
      {0.0, 49990, 9900000},
      {1.0, 49999, 9900009},
      {0.25, 49992, 9900002},
      {std::nan(""), 49990, 9900000},  // a NaN coefficient clamps to 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "specular " << c.specular);
    dp[parameter("world.defaultSpecularCoefficient")] = c.specular;
    run();
    expect_materials(c.shapes, c.joints);
  }
}

TEST_F(MaterialsSection, OffsetAndWeightFollowTheirInputs) {
  dp[parameter("world.gravityArrowTail[2]")] = 0.5;
  w[auxiliary("arm.body.m")] = 2.0;
  w[auxiliary("arm.body.g_0[2]")] = -1.625;
  run();
  EXPECT_EQ(w[auxiliary("world.gravityArrowHead.r_shape[2]")], 0.3);
  EXPECT_EQ(w[auxiliary("arm.body.frame_a.f[2]")], 3.25);

  w[auxiliary("world.gravityLineLength")] = NaN;
  w[auxiliary("arm.body.m")] = NaN;
  run();
  EXPECT_TRUE(std::isnan(w[auxiliary("world.gravityArrowHead.r_shape[2]")]));
  EXPECT_TRUE(std::isnan(w[auxiliary("arm.body.frame_a.f[2]")]));
}

}  // namespace
