// Fixture of the value and evaluation tests: one instance of a library, freed after each test,
// with helpers to initialise it and to see whether a request evaluated the model.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fmi/model_instance.h"
#include "test_host.h"
#include "unit/mat4_reader.h"

// Value references of the model: state i is (2 << 24) + i.
constexpr fmiValueReference StateRef(uint32_t i) { return 0x02000000u + i; }
constexpr fmiValueReference ParameterRef(uint32_t i) { return 0x01000000u + i; }
constexpr fmiValueReference DerivativeRef(uint32_t i) { return 0x03000000u + i; }
constexpr fmiValueReference AuxiliaryRef(uint32_t i) { return 0x06000000u + i; }
constexpr fmiValueReference WithLevel(fmiValueReference vr, uint32_t level) {
  return vr | (level << 28);
}

constexpr double Sentinel = -12345.25;

class FmiTest : public ::testing::Test {
 protected:
  explicit FmiTest(const FmiLibrary& library = tavelo()) : lib(library) {}

  void SetUp() override {
    ASSERT_NE(lib.Initialize, nullptr);
    enter_test_directory();
    logged_messages().clear();
    reset_allocator();
  }
  void TearDown() override {
    instance.reset();
    EXPECT_EQ(live_allocations(), 0u) << "blocks not given back";
  }

  // Instantiates (debug logging as given) and keeps the instance for the test.
  fmiComponent create(fmiBoolean loggingOn = fmiFalse) {
    instance.emplace(lib, "pendulum", loggingOn);
    EXPECT_TRUE(*instance);
    return instance->get();
  }
  fmiComponent c() const { return instance->get(); }
  ModelInstance& m() const { return record_of(instance->get()); }

  fmiStatus initialize(fmiBoolean toleranceControlled = fmiFalse) {
    fmiEventInfo info{};
    return lib.Initialize(c(), toleranceControlled, 1e-6, &info);
  }
  fmiComponent create_initialized(fmiBoolean loggingOn = fmiFalse) {
    create(loggingOn);
    EXPECT_EQ(initialize(), fmiOK);
    logged_messages().clear();
    return c();
  }

  // Whether a request evaluates the model: every evaluation from level 2 up writes the angle
  // derivatives, so a sentinel put there first survives only when nothing was evaluated.
  template <typename Request>
  bool evaluates(Request request) {
    m().derivatives[0] = Sentinel;
    m().derivatives[2] = Sentinel;
    request();
    return m().derivatives[0] != Sentinel && m().derivatives[2] != Sentinel;
  }
  bool derivatives_evaluate() {
    double out[4] = {};
    const bool evaluated = evaluates([&] { EXPECT_EQ(lib.GetDerivatives(c(), out, 4), fmiOK); });
    EXPECT_EQ(out[0], m().derivatives[0]);  // delivered from the instance's array
    return evaluated;
  }
  bool indicators_evaluate() {
    double out[32] = {};
    return evaluates([&] { EXPECT_EQ(lib.GetEventIndicators(c(), out, 32), fmiOK); });
  }

  const FmiLibrary& lib;
  std::optional<HostInstance> instance;
};

// A parameter and the value that a test gives it before the initialisation.
struct Setting {
  uint32_t parameter;
  double value;
};

// An FmiTest that sets parameters before the initialisation and reads auxiliaries after it.
class ParameterTest : public FmiTest {
 protected:
  void set(uint32_t parameter, double value) {
    const fmiValueReference vr = ParameterRef(parameter);
    ASSERT_EQ(lib.SetReal(c(), &vr, 1, &value), fmiOK);
  }
  void set(const std::vector<Setting>& settings) {
    for (const Setting& s : settings) set(s.parameter, s.value);
  }
  double aux(uint32_t k) {
    const fmiValueReference vr = AuxiliaryRef(k);
    double v = Sentinel;
    EXPECT_EQ(lib.GetReal(c(), &vr, 1, &v), fmiOK);
    return v;
  }
  // Instantiates (debug logging as given), sets the parameters and initialises; returns the
  // status and leaves the log of the initialisation as it came.
  fmiStatus initialize_with(const std::vector<Setting>& settings, fmiBoolean logging = fmiFalse) {
    create(logging);
    set(settings);
    logged_messages().clear();
    return initialize();
  }
};

// An FmiTest whose current folder is a scratch folder of its own, so the result file that the
// library writes lands there and goes with it; the folder before is current again after.
class FmiTestInScratch : public FmiTest {
 protected:
  explicit FmiTestInScratch(const FmiLibrary& library = tavelo()) : FmiTest(library) {}
  void SetUp() override {
    FmiTest::SetUp();
    ASSERT_TRUE(dir.ok());
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.file(""));
  }
  void TearDown() override {
    FmiTest::TearDown();
    std::filesystem::current_path(previous);
  }

  mat4::ScratchDirectory dir;
  std::filesystem::path previous;
};
