// Test fixture for the array runtime and the translated functions: empty buffers and stack,
// a recording logger, and a helper that runs code expected to fail a check.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "runtime/runtime_state.h"
#include "source/matrixop.h"

class ArrayRuntimeTest : public ::testing::Test {
 protected:
  using Lines = std::vector<std::string>;

  void SetUp() override {
    end_equation_reset();
    modelRuntime.time = 0.5;
    modelRuntime.status = 0;
    modelRuntime.printFlags = 0;
  }
  void TearDown() override { end_equation_reset(); }

  // Runs f, which must raise a model error; returns the logged lines.
  template <class F>
  Lines raise(F f) {
    log.clear();
    EXPECT_TRUE(raises_model_error(f)) << "no model error";
    return log.texts();
  }

  // The log of a failed check with an empty function-name stack.
  static Lines check_log(const std::string& condition, const std::string& message) {
    return {condition + "\n", "The following error was detected at time: 0.5\n", message + "\n"};
  }

  // Elements taken from each buffer since the last reset.
  static long reals_used() { return currentMark.place.Realbuffer - Realbuffer; }
  static long sizes_used() { return currentMark.place.Sizebuffer - Sizebuffer; }
  static long integers_used() { return currentMark.place.Integerbuffer - Integerbuffer; }
  static long strings_used() { return currentMark.place.Stringbuffer - Stringbuffer; }

  LogCapture log;
};

// An array over storage owned by the test: extents and data exactly as long as given, so a
// read past either is caught by the address sanitizer.
struct OwnedArray {
  std::vector<int32_t> dims;
  std::vector<double> data;
  RealArray array() {
    return RealArray{static_cast<int32_t>(dims.size()), dims.data(), data.data()};
  }
};

inline std::vector<double> values_of(RealArray a) {
  return std::vector<double>(a.data, a.data + ArrayElementCount(a.ndims, a.dims));
}
inline std::vector<int32_t> dims_of(RealArray a) {
  return std::vector<int32_t>(a.dims, a.dims + a.ndims);
}
