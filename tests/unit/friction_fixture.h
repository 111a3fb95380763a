// Test fixture of the friction system, its Booleans and modes: the parameters at their start
// values, the constant section stored, and the body terms, friction tables and gravity that the
// parameter section derives from the parameters, so that ordinary and event calls see the model
// as it stands after an initialisation with the start values. The pendulum starts at rest at
// its start angle, the arm at rest at 0.
#pragma once

#include <algorithm>
#include <cmath>

#include "dsblock_fixture.h"
#include "model/variable_table.h"

class FrictionTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    std::fill(w.begin(), w.end(), 0.0);
    std::fill(F.begin(), F.end(), 0.0);
    std::fill(ei.begin(), ei.end(), 0.0);
    computedLevel = 0;
    time = 0.0;
    for (const VariableRecord& r : variableTable)
      if (record_kind(r) == KindParameter) dp[r.index] = r.start;
    constant_block_1(w.data());
    constant_block_2(w.data());
    constant_block_3(w.data());
    constant_block_4(w.data());
    constant_block_5(w.data());
    constant_block_6(w.data());
    derive_body_terms();
    x = {0.0, 0.0, StartAngle, 0.0, 0.0};
  }

  // What the parameter section stores from the parameters (zero start angles).
  void derive_body_terms() {
    for (int i = 0; i < 10; ++i) w[1064 + i] = dp[14 + i];  // arm.body.r_CM, m, I_11 .. I_32
    for (int i = 0; i < 10; ++i) w[1366 + i] = dp[35 + i];  // pendulum.body.r_CM, m, I_11 ..
    inertia(&w[1114], &dp[18]);
    inertia(&w[1410], &dp[39]);
    for (int i = 0; i < 9; ++i) {  // R_start.T of both bodies: identity
      w[1123 + i] = i % 4 == 0 ? 1.0 : 0.0;
      w[1419 + i] = i % 4 == 0 ? 1.0 : 0.0;
    }
    w[1730] = w[1731] = w[1732] = dp[12];  // armBearingFriction.tau_pos
    w[1752] = dp[13];                      // pendulumBearingFriction.tau_pos[1, 2]
    w[1145] = -dp[0];                      // arm.body.g_0[2]
    w[1733] = dp[12];                      // armBearingFriction.tau0
    w[1734] = dp[58] * w[1733];            // armBearingFriction.tau0_max
    w[1437] = -dp[0];                      // pendulum.body.g_0[2]
    w[1753] = dp[60] * w[1752];            // pendulumBearingFriction.tau0_max
  }
  // The symmetric inertia matrix, row-major, from I_11, I_22, I_33, I_21, I_31, I_32.
  static void inertia(double* I, const double* p) {
    const double rows[9] = {p[0], p[3], p[4], p[3], p[1], p[5], p[4], p[5], p[2]};
    for (int i = 0; i < 9; ++i) I[i] = rows[i];
  }

  ModelEntryArguments args(int32_t* demand, int32_t* QiErr) {
    return {demand,    &computedLevel, &time,   x.data(), nullptr,  u.data(),
            dp.data(), nullptr,        nullptr, F.data(), y.data(), w.data(),
            ei.data(), nullptr,        nullptr, nullptr,  QiErr};
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
