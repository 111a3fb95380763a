// The body chain: the section guards by demand level, the entry and exit steps of the pieces,
// and the constant section.
#include <gtest/gtest.h>

#include <cmath>

#include "dsblock_fixture.h"
#include "model/variable_table.h"

namespace {

TEST(SectionGuards, LevelGuardsByDemandComputedLevelAndEvent) {
  struct Case {
    int32_t demand;
    int32_t computedLevel;
    int32_t event;
    bool runs[3];       // GL(1), GL(2), GL(3) evaluated in turn
    int32_t levelAfter;
  };
  const Case cases[] = {
      {2, 0, 0, {true, true, false}, 2},   // GL(2) sees the 1 that GL(1) stored
      {1, 0, 0, {true, false, false}, 1},
      {3, 0, 0, {true, true, true}, 3},
      {3, 2, 0, {false, false, true}, 3},  // level 3 alone on top of level 2
      {2, 2, 0, {false, false, false}, 2},
      {2, 3, 0, {false, false, false}, 3},
      {4, 3, 0, {true, true, true}, 3},    // crossing functions: all three, whatever was computed
      {4, 5, 0, {true, true, true}, 3},
      {5, 5, 1, {true, true, true}, 3},    // every event pass: all three
      {0, 0, 1, {true, true, true}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "demand " << c.demand << ", level " << c.computedLevel
                                    << ", event " << c.event);
    modelRuntime = ModelRuntimeState{};
    modelRuntime.event = c.event;
    int32_t demand = c.demand;
    int32_t level = c.computedLevel;
    ModelEntryArguments a{};
    a.demand = &demand;
    a.computedLevel = &level;
    for (int32_t L = 1; L <= 3; ++L) {
      EXPECT_EQ(GL(L, a), c.runs[L - 1]) << "GL(" << L << ")";
      EXPECT_EQ(sectionFlag, c.runs[L - 1] ? 1 : 0);
    }
    EXPECT_EQ(level, c.levelAfter);
  }
  modelRuntime = ModelRuntimeState{};
}

TEST(SectionGuards, InitialAndNewInitGuards) {
  modelRuntime = ModelRuntimeState{};
  int32_t level = 3;
  modelRuntime.initial = 0;
  EXPECT_FALSE(GI(&level));
  EXPECT_FALSE(GE(&level));
  EXPECT_EQ(sectionFlag, 0);
  EXPECT_EQ(level, 3);
  modelRuntime.initial = 1;
  EXPECT_TRUE(GI(&level));
  EXPECT_EQ(level, 0);
  level = 2;
  EXPECT_TRUE(GE(&level));
  EXPECT_EQ(level, 0);
  EXPECT_EQ(sectionFlag, 1);

  level = 2;
  modelRuntime.newInit = 0;
  EXPECT_FALSE(GN());
  EXPECT_EQ(sectionFlag, 0);
  modelRuntime.newInit = 1;
  EXPECT_TRUE(GN());
  EXPECT_EQ(sectionFlag, 1);
  EXPECT_EQ(level, 2);  // GN stores no level
  modelRuntime = ModelRuntimeState{};
}

// The chain's frame: guards, entry and exit steps, the constant section. The friction work of
// the body is left out here (tested with the friction system).
class BodyChainTest : public ModelEntryTest {
 protected:
  void SetUp() override {
    ModelEntryTest::SetUp();
    tavelo_test_bare_body = 1;
    for (double& v : w) v = NaN;
    for (double& v : F) v = NaN;
  }
  bool derivative_copies_made() const { return F[0] == x[1] && F[2] == x[3]; }
  bool constants_stored() const { return w[1740] == 3.0; }
};

TEST_F(BodyChainTest, SectionsRunByInitialisationEventAndDemand) {
  struct Case {
    const char* what;
    int32_t initial, event, demand, levelBefore;
    bool constants, derivativeCopies;
    int32_t levelAfter;
  };
  const Case cases[] = {
      {"first initialisation pass", 1, 1, 0, 3, true, true, 3},
      {"later initialisation pass", 0, 1, 0, 0, false, true, 3},
      {"event pass", 0, 1, 5, 5, false, true, 3},
      {"derivatives from nothing", 0, 0, 2, 0, false, true, 2},
      {"level 1 only", 0, 0, 1, 0, false, false, 1},
      {"level 3 on top of level 2", 0, 0, 3, 2, false, false, 3},
      {"crossing functions after level 3", 0, 0, 4, 3, false, true, 3},
      {"derivatives already computed", 0, 0, 2, 2, false, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    modelRuntime.initial = c.initial;
    modelRuntime.event = c.event;
    computedLevel = c.levelBefore;
    int32_t QiErr = 0;
    pass(c.demand, &QiErr);
    EXPECT_EQ(QiErr, 0);
    EXPECT_EQ(constants_stored(), c.constants);
    EXPECT_EQ(derivative_copies_made(), c.derivativeCopies);
    EXPECT_EQ(computedLevel, c.levelAfter);
    EXPECT_EQ(modelRuntime.initial, c.initial);  // the initial section restores it
    EXPECT_EQ(sectionFlag, 1);                   // the last step of a pass sets it
  }
}

TEST_F(BodyChainTest, NonzeroQiErrAtEntryRunsOnlyTheFirstBlock) {
  modelRuntime.initial = 1;
  modelRuntime.event = 1;
  computedLevel = 2;
  int32_t QiErr = 1;
  pass(DemandInitialize, &QiErr);
  EXPECT_EQ(QiErr, 1);
  EXPECT_EQ(w[18], 2.0);     // world.gravityType: first block
  EXPECT_EQ(w[262], 0.0);    // last store of the first block
  EXPECT_TRUE(std::isnan(w[263]));  // first store of the second block
  EXPECT_FALSE(constants_stored());
  EXPECT_FALSE(derivative_copies_made());
  EXPECT_EQ(computedLevel, 0);  // only GI ran
}

TEST_F(BodyChainTest, ExitStepsCopyTheRunStatus) {
  tavelo_test_fault = TestFaultTerminate;
  int32_t QiErr = 0;
  pass(DemandDerivatives, &QiErr);
  EXPECT_EQ(QiErr, RunStatusTerminate);
  // The status is copied on the way back only: the pieces after the first ran their work.
  EXPECT_TRUE(derivative_copies_made());
}

// The constant section runs alone, on the fixture's NaN-filled auxiliaries: the other sections
// write auxiliaries of their own, so the stores are counted without them.
TEST_F(BodyChainTest, ConstantSectionStoresTheStartValuesOfItsPositions) {
  constant_blocks(w.data());
  int stored = 0, zeros = 0, ones = 0;
  for (int i = 0; i < 1768; ++i) {
    if (std::isnan(w[i])) continue;
    ++stored;
    zeros += w[i] == 0.0;
    ones += w[i] == 1.0;
  }
  EXPECT_EQ(stored, 1485);
  EXPECT_EQ(zeros, 1073);
  EXPECT_EQ(ones, 234);
  EXPECT_TRUE(std::isnan(w[1768]));  // the spare element

  struct Store {
    int position;
    double value;
  };
  const Store samples[] = {
      {0, 0.0},        {18, 2.0},        {20, -1.0},      {22, 0.5},
      {37, 230.0},     {48, 0.111111111111111}, {57, 0.525}, {97, 9.87103e+25},
      {147, 9.87104e+25}, {680, 3.0},    {874, 89000.0},  {964, 3.0},
      {976, 0.245},    {1105, 0.037037037037037}, {1241, 9.87102e+25}, {1288, 0.421},
      {1565, 4.0},     {1597, -0.05},    {1740, 3.0},     {1741, 2.0},
      {1742, 1.0},     {1743, 0.0},      {1744, -1.0},    {1766, 1.0},
  };
  for (const Store& s : samples) EXPECT_EQ(w[s.position], s.value) << "w[" << s.position << "]";
  // Positions outside the section are not touched, even where their start value is not 0.
  for (int position : {23, 52, 1067, 1369, 1736, 1745, 1767})
    EXPECT_TRUE(std::isnan(w[position])) << "w[" << position << "]";
}

TEST_F(BodyChainTest, ConstantSectionAgreesWithTheVariableTable) {
  // The auxiliary records in table order are the auxiliaries array.
  std::vector<const VariableRecord*> auxiliary;
  for (const VariableRecord& record : variableTable)
    if (record_kind(record) == KindAuxiliary) auxiliary.push_back(&record);
  ASSERT_EQ(auxiliary.size(), 1768u);

  constant_blocks(w.data());
  int stored = 0;
  for (int i = 0; i < 1768; ++i) {
    if (std::isnan(w[i])) continue;
    ++stored;
    EXPECT_EQ(w[i], auxiliary[i]->start) << auxiliary[i]->name;
    EXPECT_TRUE(is_time_invariant(*auxiliary[i])) << auxiliary[i]->name;
  }
  EXPECT_EQ(stored, 1485);
}

TEST_F(BodyChainTest, ConstantsAreStoredAgainOnlyByAnInitialisation) {
  ASSERT_EQ(call(DemandInitialize), 0);
  w[1740] = 7.0;
  w[874] = -1.0;
  for (int32_t demand : {DemandDerivatives, DemandCrossingFunctions, DemandEventUpdate, 3}) {
    ASSERT_EQ(call(demand), 0);
    EXPECT_EQ(w[1740], 7.0);
  }
  ASSERT_EQ(call(DemandInitialize), 0);
  EXPECT_EQ(w[1740], 3.0);
  EXPECT_EQ(w[874], 89000.0);
}

}  // namespace
