// Test fixture of the friction system, its Booleans and modes: the parameters at their start
// values, the constant section and the parameter section run, so that ordinary and event calls
// see the model as it stands after an initialisation with the start values, before its first
// friction solve. The pendulum starts at rest at its start angle, the arm at rest at 0.
#pragma once

#include <algorithm>
#include <cmath>

#include "dsblock_fixture.h"
#include "model/body_sections.h"

class FrictionTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    std::fill(w.begin(), w.end(), 0.0);
    std::fill(F.begin(), F.end(), 0.0);
    std::fill(ei.begin(), ei.end(), 0.0);
    computedLevel = 0;
    time = 0.0;
    dp = start_parameters();
    constant_blocks(w.data());
    derive_body_terms();
    x = {0.0, 0.0, StartAngle, 0.0, 0.0};
  }

  // The parameter section, as the first pass of an initialisation runs it.
  void derive_body_terms() {
    int32_t demand = DemandInitialize, QiErr = 0;
    world_arm_dimensions(args(&demand, &QiErr));
    dependent_parameters_rest(args(&demand, &QiErr));
    ASSERT_EQ(QiErr, 0);
  }

  // Stored pre values of the modes, and the start Booleans' pre values cleared.
  static void set_pre_modes(double arm, double pendulum) {
    preValues[0] = arm;
    preValues[1] = pendulum;
    for (int k = 2; k < 6; ++k) preValues[k] = 0.0;
  }

  // Named values of the default model.
  double pendulum_mass() const { return dp[38]; }
  double pendulum_cm() const { return dp[36]; }  // pendulum.r_CM[2]
  double pendulum_I11() const { return dp[39]; }
  double gravity() const { return dp[0]; }

  static constexpr double StartAngle = 0.5235987755983;
  static constexpr double ArmLength = 0.245;
};
