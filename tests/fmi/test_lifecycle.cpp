// The instance lifecycle at the FMI boundary: version and platform, instantiation with its
// GUID check, single-instance guard, name copy and allocation failures, freeing, the logging
// path and the null-component guard.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fmi/model_instance.h"
#include "test_host.h"

namespace {

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib.InstantiateModel, nullptr);
    logged_messages().clear();
    reset_allocator();
  }
  void TearDown() override { EXPECT_EQ(live_allocations(), 0u) << "blocks not given back"; }

  static ModelInstance& record(const HostInstance& instance) {
    return *static_cast<ModelInstance*>(instance.get());
  }

  const FmiLibrary& lib = tavelo();
};

// A second logger, to tell which instance's logger a message went through.
std::vector<LoggedMessage> secondLog;
void second_logger(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                   fmiString message, ...) {
  secondLog.push_back(
      {c, instanceName ? instanceName : "(null)", status, category ? category : "(null)", message});
}

const std::string GUIDSuffix = std::string(", expected ") + TaveloGUID + "\n";

TEST_F(Lifecycle, VersionAndPlatformWithoutInstance) {
  EXPECT_STREQ(lib.GetVersion(), "1.0");
  EXPECT_STREQ(lib.GetModelTypesPlatform(), "standard32");
}

TEST_F(Lifecycle, InstantiationSetsSizesStartValuesAndRecording) {
  HostInstance instance(lib, "pendulum", fmiTrue);
  ASSERT_TRUE(instance);
  const ModelInstance& m = record(instance);
  EXPECT_STREQ(m.instanceName, "pendulum");
  EXPECT_EQ(m.loggingOn, 1);
  EXPECT_EQ(m.nx, 4u);
  EXPECT_EQ(m.ni, 32u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(m.nominalStates[i], 1.0) << i;
  EXPECT_EQ(m.states[2], 0.5235987755983);  // pendulumJoint.phi
  EXPECT_EQ(m.parameters[0], 9.81);         // world.g
  EXPECT_EQ(m.initialized, 0);
  EXPECT_EQ(m.recordResult, 1);
  EXPECT_EQ(m.computedLevel, 0);
  EXPECT_TRUE(logged_messages().empty());

  // The record, the name copy, then the eight arrays with one spare element each.
  const std::vector<std::pair<size_t, size_t>> expected = {{1, sizeof(ModelInstance)},
                                                           {9, 1},
                                                           {5, 8},
                                                           {5, 8},
                                                           {63, 8},
                                                           {1, 8},
                                                           {1, 8},
                                                           {1769, 8},
                                                           {33, 8},
                                                           {5, 8}};
  ASSERT_EQ(allocations().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(allocations()[i].nobj, expected[i].first) << i;
    EXPECT_EQ(allocations()[i].size, expected[i].second) << i;
  }
}

TEST_F(Lifecycle, FreeGivesBackEverythingInOrder) {
  HostInstance instance(lib);
  ASSERT_TRUE(instance);
  const std::vector<AllocationRecord> made = allocations();
  ASSERT_EQ(made.size(), 10u);
  instance.reset();
  // Name, states, derivatives, parameters, inputs, outputs, auxiliaries, indicators, nominal
  // states, and the record last.
  ASSERT_EQ(frees().size(), 10u);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(frees()[i], made[i + 1].block) << i;
  EXPECT_EQ(frees()[9], made[0].block);
  EXPECT_EQ(live_allocations(), 0u);

  // The library holds no instance any more: a new one may be created.
  HostInstance again(lib);
  EXPECT_TRUE(again);
}

TEST_F(Lifecycle, FreeOfNullDoesNothing) {
  lib.FreeModelInstance(nullptr);
  EXPECT_TRUE(frees().empty());
  HostInstance instance(lib);
  EXPECT_TRUE(instance);
}

TEST_F(Lifecycle, GuidMismatchIsRejectedAndLeavesNothing) {
  const std::string upper = "{8A4D88A0-E4DB-4E8B-BFA0-F36B6A6C89B3}";
  const std::string oneOff = "{8a4d88a0-e4db-4e8b-bfa0-f36b6a6c89b4}";
  const std::string longer = std::string(TaveloGUID) + " ";
  const std::string shorter = std::string(TaveloGUID).substr(0, 37);
  for (const std::string& guid : {upper, oneOff, longer, shorter, std::string()}) {
    SCOPED_TRACE(guid);
    logged_messages().clear();
    reset_allocator();
    HostInstance instance(lib, "pendulum", fmiFalse, guid.c_str());
    EXPECT_FALSE(instance);
    ASSERT_EQ(logged_messages().size(), 1u);
    const LoggedMessage& m = logged_messages()[0];
    EXPECT_EQ(m.status, fmiError);
    EXPECT_EQ(m.category, "");
    EXPECT_EQ(m.instanceName, "pendulum");
    EXPECT_EQ(m.text, "Invalid GUID: " + guid + GUIDSuffix);
    EXPECT_EQ(live_allocations(), 0u);
  }
  // Nothing stayed behind: the right GUID succeeds.
  HostInstance instance(lib);
  EXPECT_TRUE(instance);
}

TEST_F(Lifecycle, NullGuidIsAMismatchAndNullNameGivesEmptyInstanceName) {
  HostInstance instance(lib, nullptr, fmiFalse, nullptr);
  EXPECT_FALSE(instance);
  ASSERT_EQ(logged_messages().size(), 1u);
  EXPECT_EQ(logged_messages()[0].status, fmiError);
  EXPECT_EQ(logged_messages()[0].instanceName, "");
  EXPECT_EQ(logged_messages()[0].text, "Invalid GUID: <NULL>" + GUIDSuffix);
}

TEST_F(Lifecycle, PercentInGuidIsPrintedLiterally) {
  // A formatting logger would read "%s%n" as directives without the library's escaping.
  HostInstance instance(lib, "pendulum", fmiFalse, "%s%n");
  EXPECT_FALSE(instance);
  ASSERT_EQ(logged_messages().size(), 1u);
  EXPECT_EQ(logged_messages()[0].text, "Invalid GUID: %s%n" + GUIDSuffix);
}

TEST_F(Lifecycle, LongMessageIsCutTo4095Characters) {
  for (char fill : {'x', '%'}) {
    SCOPED_TRACE(fill);
    logged_messages().clear();
    const std::string guid(5000, fill);
    HostInstance instance(lib, "pendulum", fmiFalse, guid.c_str());
    EXPECT_FALSE(instance);
    ASSERT_EQ(logged_messages().size(), 1u);
    const std::string& text = logged_messages()[0].text;
    EXPECT_EQ(text.size(), 4095u);
    EXPECT_EQ(text, ("Invalid GUID: " + guid).substr(0, 4095));
  }
}

TEST_F(Lifecycle, SecondInstanceIsRefusedThroughTheFirstLogger) {
  secondLog.clear();
  fmiCallbackFunctions first = host_callbacks();
  HostInstance one(lib, "first", fmiFalse, TaveloGUID, first);
  ASSERT_TRUE(one);
  const size_t allocationsBefore = allocations().size();

  fmiCallbackFunctions other = host_callbacks();
  other.logger = second_logger;
  for (const char* name : {"second", static_cast<const char*>(nullptr)}) {
    logged_messages().clear();
    HostInstance two(lib, name, fmiTrue, TaveloGUID, other);
    EXPECT_FALSE(two);
    ASSERT_EQ(logged_messages().size(), 1u);  // debug logging of the first is off: fmiFatal passes
    const LoggedMessage& m = logged_messages()[0];
    EXPECT_EQ(m.component, one.get());
    EXPECT_EQ(m.status, fmiFatal);
    EXPECT_EQ(m.instanceName, name ? name : "first");
    EXPECT_EQ(m.text, "fmiInstantiateModel: multiple instances not supported\n");
  }
  EXPECT_TRUE(secondLog.empty());
  EXPECT_EQ(allocations().size(), allocationsBefore);  // nothing allocated for the refused ones

  // The first instance is untouched and keeps working.
  EXPECT_STREQ(record(one).instanceName, "first");
  EXPECT_EQ(lib.SetTime(one.get(), 0.5), fmiOK);
  EXPECT_EQ(record(one).time, 0.5);
}

TEST_F(Lifecycle, InstanceNameCopyNullAndCut) {
  // The stored copy shows in the instance name of the multiple-instances message.
  const std::string longName(2000, 'n');
  struct Case {
    const char* name;
    std::string stored;
  };
  for (const Case& c :
       {Case{nullptr, "<NULL>"}, Case{longName.c_str(), longName.substr(0, 1024)}, Case{"", ""}}) {
    SCOPED_TRACE(c.stored.substr(0, 10));
    reset_allocator();
    HostInstance one(lib, c.name);
    ASSERT_TRUE(one);
    EXPECT_EQ(allocations()[1].nobj, c.stored.size() + 1);
    logged_messages().clear();
    HostInstance two(lib, nullptr);
    EXPECT_FALSE(two);
    ASSERT_EQ(logged_messages().size(), 1u);
    EXPECT_EQ(logged_messages()[0].instanceName, c.stored);
  }
}

TEST_F(Lifecycle, EachFailedAllocationGivesNullWithoutLeak) {
  // Allocations: 1 the record, 2 the name copy, 3-10 the eight arrays (all requested first).
  for (int failAt = 1; failAt <= 10; ++failAt) {
    for (const char* name : {"pendulum", static_cast<const char*>(nullptr)}) {
      SCOPED_TRACE(testing::Message() << "allocation " << failAt << (name ? "" : ", null name"));
      logged_messages().clear();
      reset_allocator(failAt);
      HostInstance instance(lib, name);
      EXPECT_FALSE(instance);
      EXPECT_EQ(live_allocations(), 0u);
      EXPECT_EQ(allocations().size(), failAt <= 2 ? static_cast<size_t>(failAt) : 10u);
      if (failAt == 1) {
        EXPECT_TRUE(logged_messages().empty());
        EXPECT_TRUE(frees().empty());
      } else {
        ASSERT_EQ(logged_messages().size(), 1u);
        EXPECT_EQ(logged_messages()[0].status, fmiFatal);
        EXPECT_EQ(logged_messages()[0].instanceName, name ? name : "");
        EXPECT_EQ(logged_messages()[0].text, "Instantiation failed\n");
        EXPECT_EQ(frees().size(), 10u);  // never-allocated pointers are passed on as null
      }
    }
  }
  reset_allocator();
  HostInstance instance(lib);
  EXPECT_TRUE(instance);
}

TEST_F(Lifecycle, MissingCallbacks) {
  fmiCallbackFunctions noAllocate = host_callbacks();
  noAllocate.allocateMemory = nullptr;
  fmiCallbackFunctions noFree = host_callbacks();
  noFree.freeMemory = nullptr;
  for (const fmiCallbackFunctions& functions : {noAllocate, noFree}) {
    HostInstance instance(lib, "pendulum", fmiTrue, TaveloGUID, functions);
    EXPECT_FALSE(instance);
  }
  EXPECT_TRUE(allocations().empty());

  // Without a logger the messages are dropped; everything else works.
  fmiCallbackFunctions noLogger = host_callbacks();
  noLogger.logger = nullptr;
  {
    HostInstance bad(lib, "pendulum", fmiTrue, "%s%n", noLogger);
    EXPECT_FALSE(bad);
  }
  HostInstance one(lib, "pendulum", fmiTrue, TaveloGUID, noLogger);
  ASSERT_TRUE(one);
  HostInstance two(lib);  // refused through the first instance, which has no logger
  EXPECT_FALSE(two);
  EXPECT_TRUE(logged_messages().empty());
}

TEST_F(Lifecycle, LoggingRuleFollowsDebugLogging) {
  // A count mismatch gives fmiWarning, a refused read before initialisation fmiError.
  HostInstance instance(lib, "pendulum", fmiFalse);
  ASSERT_TRUE(instance);
  double x[3];
  const fmiValueReference vr = 0x02000000;
  double v;
  for (const fmiBoolean on : {fmiFalse, fmiTrue, fmiFalse}) {
    SCOPED_TRACE(static_cast<int>(on));
    ASSERT_EQ(lib.SetDebugLogging(instance.get(), on), fmiOK);
    logged_messages().clear();
    EXPECT_EQ(lib.GetContinuousStates(instance.get(), x, 3), fmiWarning);
    EXPECT_EQ(lib.GetReal(instance.get(), &vr, 1, &v), fmiError);
    std::vector<std::string> expected;
    if (on)
      expected.push_back("fmiGetContinuousStates: argument nx = 3 is incorrect, should be 4\n");
    expected.push_back("fmiGetReal: comp is not initialized\n");
    EXPECT_EQ(logged_texts(), expected);
    for (const LoggedMessage& m : logged_messages()) {
      EXPECT_EQ(m.component, instance.get());
      EXPECT_EQ(m.instanceName, "pendulum");
      EXPECT_EQ(m.category, "");
    }
  }
}

TEST_F(Lifecycle, NullComponentIsAnError) {
  EXPECT_EQ(lib.SetDebugLogging(nullptr, fmiTrue), fmiError);
  EXPECT_EQ(lib.SetTime(nullptr, 1.0), fmiError);
  EXPECT_EQ(lib.Terminate(nullptr), fmiError);
}

TEST_F(Lifecycle, DebugLoggingTimeAndTerminate) {
  HostInstance instance(lib);
  ASSERT_TRUE(instance);
  ModelInstance& m = record(instance);
  EXPECT_EQ(lib.SetDebugLogging(instance.get(), fmiTrue), fmiOK);
  EXPECT_EQ(m.loggingOn, 1);
  EXPECT_EQ(lib.SetDebugLogging(instance.get(), fmiFalse), fmiOK);
  EXPECT_EQ(m.loggingOn, 0);

  m.computedLevel = 3;
  EXPECT_EQ(lib.SetTime(instance.get(), 0.25), fmiOK);
  EXPECT_EQ(m.time, 0.25);
  EXPECT_EQ(m.computedLevel, 0);

  // Not initialised: terminate only keeps initialized at 0.
  EXPECT_EQ(lib.Terminate(instance.get()), fmiOK);
  EXPECT_EQ(m.initialized, 0);
  EXPECT_EQ(lib.Terminate(instance.get()), fmiOK);
  EXPECT_TRUE(logged_messages().empty());
}

}  // namespace
