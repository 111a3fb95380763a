// Test fixture for the model entry: the value arrays of one instance and a clean process-wide
// state (runtime words, relations, test faults) for every test.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "log_capture.h"
#include "model/body_chain.h"
#include "model/dsblock.h"
#include "model/friction_system.h"
#include "model/pre_values.h"
#include "model/test_fault.h"
#include "model/variable_table.h"
#include "runtime/relations.h"
#include "runtime/runtime_state.h"

class ModelEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_state(); }
  void TearDown() override { reset_process_state(); }

  static void reset_process_state() {
    modelRuntime = ModelRuntimeState{};
    relation_hysteresis = RelationHysteresis{};
    tavelo_test_fault = TestFaultNone;
    tavelo_test_pass_hook = nullptr;
    tavelo_test_bare_body = 0;
    tavelo_test_print_flags = 0;
    sectionFlag = 0;
    frictionSystem = FrictionSystemState{};
    for (int k = 0; k < DiscreteCount; ++k) {
      preValues[k] = 0.0;
      preValueFlags[k] = 0;
      discreteSave[k] = 0.0;
    }
    saLast[0] = saLast[1] = saPrev[0] = saPrev[1] = 0.0;
    saTime = saPrevTime = 0.0;
  }

  // One dsblock_ call as the FMI layer makes it; returns QiErr.
  int32_t call(int32_t demand, double t = 0.0) {
    int32_t QiErr = 0;
    time = t;
    EXPECT_EQ(dsblock_(&demand, &computedLevel, &time, x.data(), nullptr, u.data(), dp.data(),
                       nullptr, nullptr, F.data(), y.data(), w.data(), ei.data(), nullptr,
                       nullptr, nullptr, &QiErr),
              0);
    return QiErr;
  }

  // The arguments of a section of the model over this fixture's arrays.
  ModelEntryArguments args(int32_t* demand, int32_t* QiErr) {
    return {demand,    &computedLevel, &time,   x.data(), nullptr,  u.data(),
            dp.data(), nullptr,        nullptr, F.data(), y.data(), w.data(),
            ei.data(), nullptr,        nullptr, nullptr,  QiErr};
  }

  // One pass of the body, straight through its first piece.
  void pass(int32_t demand, int32_t* QiErr) { model_bindings_1(args(&demand, QiErr), 0); }

  static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

  // The parameters' start values, as instantiation copies them.
  static std::vector<double> start_parameters() {
    std::vector<double> p(ModelParameterCount + 1, 0.0);
    for (const VariableRecord& r : variableTable)
      if (record_kind(r) == KindParameter) p[r.index] = r.start;
    return p;
  }

  // One spare element each, as the FMI layer allocates them.
  std::vector<double> x{0.0, 1.25, 0.5, -2.5, 0.0};
  std::vector<double> u = std::vector<double>(1, 0.0);
  std::vector<double> dp = start_parameters();
  std::vector<double> F = std::vector<double>(5, 0.0);
  std::vector<double> y = std::vector<double>(1, 0.0);
  std::vector<double> w = std::vector<double>(1769, 0.0);
  std::vector<double> ei = std::vector<double>(33, 0.0);
  int32_t computedLevel = 0;
  double time = 0.0;
};
