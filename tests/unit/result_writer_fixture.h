// Test fixture of the result writer: a scratch directory made current, the model's value arrays
// with start values and distinct values elsewhere, and the writer's calls on them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "mat4_reader.h"
#include "model/variable_table.h"
#include "results/result_writer.h"

class ResultWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.file(""));
    ResultWriterPhase = 0;
    declare_(states.data(), parameters.data(), nullptr);
    states = {0.25, -0.5, 0.5235987755983, 0.75, 0.0};
    for (size_t i = 0; i < derivatives.size(); ++i) derivatives[i] = -2.0 - 0.5 * i;
    for (size_t i = 0; i < auxiliaries.size(); ++i) auxiliaries[i] = 1000.0 + 0.25 * i;
  }
  void TearDown() override {
    result_file_close(&result);
    amatFailAllocationAfter = -1;
    ResultWriterPhase = 0;
    std::filesystem::current_path(previous);
  }

  void open(double time = 0.0, double t1 = 1e-9) {
    result_file_open(&result, time, t1, parameters.data(), states.data(), derivatives.data(),
                     outputs.data(), inputs.data(), auxiliaries.data());
  }
  void prepare_and_open(double time = 0.0, double t1 = 1e-9) {
    result_file_prepare(&result);
    open(time, t1);
  }
  void write_row(double time) {
    result_file_write_row(&result, time, 1e-9, parameters.data(), states.data(),
                          derivatives.data(), outputs.data(), inputs.data(), auxiliaries.data());
  }
  // The value of a non-alias record of kinds 1-6 in the arrays.
  double value_of(const VariableRecord& record) {
    const double* arrays[7] = {nullptr,        parameters.data(), states.data(),
                               derivatives.data(), outputs.data(), inputs.data(),
                               auxiliaries.data()};
    return arrays[record_kind(record)][variable_position(&record)];
  }

  mat4::ScratchDirectory dir;
  std::filesystem::path previous;
  ResultFile result{};
  std::vector<double> parameters = std::vector<double>(ModelParameterCount + 1);
  std::vector<double> states = std::vector<double>(ModelStateCount + 1);
  std::vector<double> derivatives = std::vector<double>(ModelStateCount + 1);
  std::vector<double> outputs = std::vector<double>(ModelOutputCount + 1);
  std::vector<double> inputs = std::vector<double>(ModelInputCount + 1);
  std::vector<double> auxiliaries = std::vector<double>(ModelAuxiliaryCount + 1);
};
