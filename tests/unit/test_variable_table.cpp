// The variable table's invariants, name lookup, the model sizes and the start-value walk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "model/variable_table.h"

namespace {

// The record at a position of a kind's value array, or null.
const VariableRecord* record_at(int kind, int position) {
  int seen = 0;
  for (const VariableRecord& record : variableTable) {
    if (record_kind(record) != kind) continue;
    if (seen++ == position) return &record;
  }
  return nullptr;
}

int count_kind(int kind) {
  int n = 0;
  for (const VariableRecord& record : variableTable) n += record_kind(record) == kind;
  return n;
}

const VariableRecord& named(const char* name) {
  const VariableRecord* record = find_variable(name);
  if (record == nullptr) ADD_FAILURE() << "no record " << name;
  static const VariableRecord none{};
  return record != nullptr ? *record : none;
}

}  // namespace

TEST(VariableTable, CountsPerKind) {
  EXPECT_EQ(count_kind(KindNone), 0);
  EXPECT_EQ(count_kind(KindParameter), 62);
  EXPECT_EQ(count_kind(KindState), 4);
  EXPECT_EQ(count_kind(KindDerivative), 4);
  EXPECT_EQ(count_kind(KindOutput), 0);
  EXPECT_EQ(count_kind(KindInput), 0);
  EXPECT_EQ(count_kind(KindAuxiliary), 1768);
  EXPECT_EQ(count_kind(KindAlias), 486);

  int invariant = 0, varying = 0;
  int aliasTargets[8] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (kind == KindAuxiliary) (is_time_invariant(record) ? invariant : varying)++;
    if (kind == KindAlias) aliasTargets[alias_target_kind(record)]++;
    // The time-invariance bit is clear in parameters, states and derivatives.
    if (kind >= KindParameter && kind <= KindDerivative) {
      EXPECT_FALSE(is_time_invariant(record)) << record.name;
    }
  }
  EXPECT_EQ(invariant, 1669);
  EXPECT_EQ(varying, 99);
  EXPECT_EQ(aliasTargets[KindState], 18);
  EXPECT_EQ(aliasTargets[KindAuxiliary], 415);
  EXPECT_EQ(aliasTargets[KindDerivative], 12);
  EXPECT_EQ(aliasTargets[KindParameter], 41);
  EXPECT_EQ(aliasTargets[KindNone] + aliasTargets[KindInput] + aliasTargets[KindOutput], 0);
}

TEST(VariableTable, RecordFieldsAreWellFormed) {
  std::set<std::string> names;
  int position[8] = {};
  for (const VariableRecord& record : variableTable) {
    ASSERT_NE(record.name, nullptr);
    ASSERT_NE(record.description, nullptr) << record.name;
    EXPECT_TRUE(names.insert(record.name).second) << "duplicate " << record.name;
    EXPECT_EQ(record.nominal, 0.0) << record.name;
    const int kind = record_kind(record);
    switch (kind) {
      case KindParameter:
      case KindState:
        // Parameters and states carry their table position as index.
        EXPECT_EQ(record.index, position[kind]) << record.name;
        break;
      case KindDerivative:
        EXPECT_EQ(record.index, 0) << record.name;
        EXPECT_EQ(record.start, 0.0) << record.name;
        break;
      case KindAuxiliary:
        EXPECT_EQ(record.index, 0) << record.name;
        break;
      case KindAlias:
        EXPECT_TRUE(record.start == 1.0 || record.start == -1.0) << record.name;
        break;
      default:
        ADD_FAILURE() << "unexpected kind " << kind << " of " << record.name;
    }
    EXPECT_EQ(variable_position(&record), position[kind]) << record.name;
    ++position[kind];
  }
}

TEST(VariableTable, EveryAliasTargetsAStoredVariable) {
  for (const VariableRecord& record : variableTable) {
    if (record_kind(record) != KindAlias) continue;
    const int kind = alias_target_kind(record);
    ASSERT_TRUE(kind == KindParameter || kind == KindState || kind == KindDerivative ||
                kind == KindAuxiliary)
        << record.name;
    const VariableRecord* target = record_at(kind, record.index);
    ASSERT_NE(target, nullptr) << record.name << " -> position " << record.index;
    EXPECT_EQ(record_kind(*target), kind) << record.name;
  }
}

TEST(VariableTable, AliasExamples) {
  struct Case {
    const char* alias;
    double sign;
    const char* target;
  };
  const Case cases[] = {
      {"world.frame_b.f[1]", -1.0, "armJoint.frame_a.f[1]"},
      {"world.frame_b.f[2]", +1.0, "armJoint.frame_b.f[2]"},
      {"world.x_arrowLine.length", +1.0, "world.lineLength"},
      {"arm.frame_a.t[3]", -1.0, "armJoint.frame_b.t[3]"},
      {"armJoint.angle", +1.0, "armJoint.phi"},                    // of a state
      {"armJoint.a", +1.0, "armJoint.der(w)"},                      // of a derivative
      {"armJoint.fixed.flange.phi", +1.0, "armJoint.fixed.phi0"},   // of a parameter
      {"world.x_label.cylinders[2].lengthDirection[2]", -1.0, "world.scaledLabel"},
      {"pendulumJoint.support.tau", +1.0, "pendulumJoint.frame_b.t[1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alias);
    const VariableRecord& alias = named(c.alias);
    const VariableRecord& target = named(c.target);
    ASSERT_EQ(record_kind(alias), KindAlias);
    EXPECT_EQ(alias_sign(alias), c.sign);
    EXPECT_EQ(alias_target_kind(alias), record_kind(target));
    EXPECT_EQ(alias.index, variable_position(&target));
  }
}

TEST(VariableTable, FirstLastAndLongest) {
  EXPECT_STREQ(variableTable[0].name, "world.frame_b.r_0[1]");
  EXPECT_EQ(record_kind(variableTable[0]), KindAuxiliary);
  EXPECT_STREQ(variableTable[VariableTableSize - 1].name, "pendulumJoint.support.tau");
  EXPECT_EQ(record_kind(variableTable[VariableTableSize - 1]), KindAlias);

  // The result file pads names and descriptions to these widths.
  const VariableRecord* longestName = &variableTable[0];
  const VariableRecord* longestDescription = &variableTable[0];
  for (const VariableRecord& record : variableTable) {
    if (std::strlen(record.name) > std::strlen(longestName->name)) longestName = &record;
    if (std::strlen(record.description) > std::strlen(longestDescription->description)) {
      longestDescription = &record;
    }
  }
  EXPECT_STREQ(longestName->name, "pendulumBearingFriction.unitAngularAcceleration");
  EXPECT_EQ(std::strlen(longestName->name), 47u);
  EXPECT_EQ(std::strlen(longestDescription->description), 152u);
  EXPECT_STREQ(longestDescription->name, "armBearingFriction.w_small");
  EXPECT_STREQ(named("pendulumBearingFriction.w_small").description,
               longestDescription->description);
}

TEST(VariableTable, PositionsAndStartValues) {
  struct Case {
    const char* name;
    int kind;
    int position;
    bool timeInvariant;  // auxiliaries only
    double start;
  };
  const Case cases[] = {
      {"world.g", KindParameter, 0, false, 9.81},
      {"world.mue", KindParameter, 1, false, 398600000000000.0},
      {"armFriction", KindParameter, 12, false, 0.012},
      {"pendulumFriction", KindParameter, 13, false, 0.002},
      {"pendulumBearingFriction.w_small", KindParameter, 61, false, 1e10},
      {"armJoint.phi", KindState, 0, false, 0.0},
      {"pendulumJoint.phi", KindState, 2, false, 0.5235987755983},
      {"pendulumJoint.w", KindState, 3, false, 0.0},
      {"armJoint.der(phi)", KindDerivative, 0, false, 0.0},
      {"pendulumJoint.der(w)", KindDerivative, 3, false, 0.0},
      {"world.frame_b.R.T[3, 3]", KindAuxiliary, 11, true, 1.0},
      {"world.gravityType", KindAuxiliary, 18, true, 2.0},
      {"world.x_arrowHead.Form", KindAuxiliary, 147, true, 9.87104e+25},
      {"arm.frameTranslation.frame_a.R.T[1, 1]", KindAuxiliary, 994, false, 0.0},
      {"armBearingFriction.sa", KindAuxiliary, 1736, false, 0.0},
      {"armBearingFriction.mode", KindAuxiliary, 1745, false, 3.0},
      {"armBearingFriction.Backward", KindAuxiliary, 1744, true, -1.0},
      {"pendulumBearingFriction.sa", KindAuxiliary, 1755, false, 0.0},
      {"pendulumBearingFriction.phi", KindAuxiliary, 1767, false, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VariableRecord& record = named(c.name);
    EXPECT_EQ(record_kind(record), c.kind);
    EXPECT_EQ(variable_position(&record), c.position);
    EXPECT_EQ(record.start, c.start);
    if (c.kind == KindAuxiliary) {
      EXPECT_EQ(is_time_invariant(record), c.timeInvariant);
    }
  }
  EXPECT_STREQ(named("armJoint.phi").description,
               "Relative rotation angle from frame_a to frame_b [rad|deg]");
  EXPECT_STREQ(named("armFriction").description, "");
}

// The result file numbers the constant and the time-varying variables in table order across
// kinds; these columns pin the relative order of parameters, states and auxiliaries.
TEST(VariableTable, ResultColumnsFollowTableOrder) {
  std::vector<int> code(VariableTableSize, 0);
  int nConstant = 0, nVarying = 0, nAlias = 0;
  for (int i = 0; i < VariableTableSize; ++i) {
    const VariableRecord& record = variableTable[i];
    const int kind = record_kind(record);
    if (kind == KindAlias) {
      ++nAlias;
    } else if (kind == KindParameter || (kind >= KindOutput && is_time_invariant(record))) {
      code[i] = -(++nConstant);
    } else {
      code[i] = ++nVarying;
    }
  }
  EXPECT_EQ(nConstant, 1731);
  EXPECT_EQ(nVarying, 107);
  EXPECT_EQ(nAlias, 486);
  struct Case {
    const char* name;
    int code;
  };
  const Case cases[] = {{"world.frame_b.r_0[1]", -1},  {"world.g", -20},
                        {"armFriction", -936},         {"armJoint.phi", 70},
                        {"armBearingFriction.sa", 96}, {"armJoint.frame_a.f[1]", 60},
                        {"pendulumBearingFriction.phi", 107}};
  for (const Case& c : cases) {
    const VariableRecord& record = named(c.name);
    EXPECT_EQ(code[&record - variableTable], c.code) << c.name;
  }
}

TEST(VariableTable, LookupRejectsUnknown) {
  EXPECT_EQ(find_variable("world.nosuch"), nullptr);
  EXPECT_EQ(find_variable("world.frame_b.R.T[1,1]"), nullptr);  // names carry ", "
  EXPECT_EQ(find_variable(""), nullptr);
  EXPECT_EQ(find_variable(nullptr), nullptr);
  const VariableRecord outside{};
  EXPECT_EQ(variable_position(&outside), -1);
  EXPECT_EQ(variable_position(nullptr), -1);
}

TEST(ModelSizes, ReportsTheNineCounts) {
  int sizes[9];
  for (int& s : sizes) s = -7;
  get_model_sizes(&sizes[0], &sizes[1], &sizes[2], &sizes[3], &sizes[4], &sizes[5], &sizes[6],
                  &sizes[7], &sizes[8]);
  const int expected[9] = {4, 0, 0, 0, 1768, 62, 16, 0, 0};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(sizes[i], expected[i]) << "count " << i + 1;
}

namespace {

constexpr double Untouched = -12345.5;

// Arrays of one spare element beyond the model's count, prefilled with a marker.
class DeclareWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPhase = ResultWriterPhase;
    states.assign(ModelStateCount + 1, Untouched);
    parameters.assign(ModelParameterCount + 1, Untouched);
  }
  void TearDown() override { ResultWriterPhase = savedPhase; }

  int savedPhase = 0;
  std::vector<double> states;
  std::vector<double> parameters;
};

}  // namespace

TEST_F(DeclareWalk, PhaseZeroCopiesParameterAndStateStarts) {
  ResultWriterPhase = 0;
  int32_t qiErr = 77;
  declare_(states.data(), parameters.data(), &qiErr);
  EXPECT_EQ(qiErr, 77);
  for (int i = 0; i < ModelParameterCount; ++i) {
    EXPECT_EQ(parameters[i], record_at(KindParameter, i)->start) << "parameter " << i;
  }
  EXPECT_EQ(parameters[0], 9.81);
  EXPECT_EQ(parameters[12], 0.012);
  EXPECT_EQ(parameters[13], 0.002);
  const double expectedStates[4] = {0.0, 0.0, 0.5235987755983, 0.0};
  for (int i = 0; i < ModelStateCount; ++i) EXPECT_EQ(states[i], expectedStates[i]);
  // The spare elements are named by no record.
  EXPECT_EQ(parameters[ModelParameterCount], Untouched);
  EXPECT_EQ(states[ModelStateCount], Untouched);
  EXPECT_EQ(ResultWriterPhase, 0);
}

// Every parameter as the model declares it, in parameter-index order: the name at each
// position, the start value the walk copies and the stored bounds.
TEST_F(DeclareWalk, PhaseZeroGivesEveryParameterItsDeclaredStart) {
  struct Parameter {
    const char* name;
    double start;
    double min;
    double max;
  };
  const Parameter expected[] = {
      {"world.g", 9.81, 0.0, 0.0},
      {"world.mue", 398600000000000.0, 0.0, 1e100},
      {"world.driveTrainMechanics3D", 1.0, 0.0, 0.0},
      {"world.gravityArrowTail[1]", 0.0, 0.0, 0.0},
      {"world.gravityArrowTail[2]", 0.0, 0.0, 0.0},
      {"world.gravityArrowTail[3]", 0.0, 0.0, 0.0},
      {"world.gravitySphereDiameter", 12742000.0, 0.0, 1e100},
      {"world.defaultWidthFraction", 20.0, 0.0, 0.0},
      {"world.defaultFrameDiameterFraction", 40.0, 0.0, 0.0},
      {"world.defaultSpecularCoefficient", 0.7, 0.0, 1e100},
      {"world.defaultN_to_m", 1000.0, 0.0, 1e100},
      {"world.defaultNm_to_m", 1000.0, 0.0, 1e100},
      {"armFriction", 0.012, 0.0, 0.0},
      {"pendulumFriction", 0.002, 0.0, 0.0},
      {"arm.r_CM[1]", 0.0, 0.0, 0.0},
      {"arm.r_CM[2]", 0.0, 0.0, 0.0},
      {"arm.r_CM[3]", 0.0, 0.0, 0.0},
      {"arm.m", 0.165, 0.0, 1e100},
      {"arm.I_11", 0.00144, 0.0, 1e100},
      {"arm.I_22", 0.001, 0.0, 1e100},
      {"arm.I_33", 0.001, 0.0, 1e100},
      {"arm.I_21", 0.0, -1e60, 1e100},
      {"arm.I_31", 0.0, -1e60, 1e100},
      {"arm.I_32", 0.0, -1e60, 1e100},
      {"arm.angles_start[1]", 0.0, 0.0, 0.0},
      {"arm.angles_start[2]", 0.0, 0.0, 0.0},
      {"arm.angles_start[3]", 0.0, 0.0, 0.0},
      {"arm.w_0_start[1]", 0.0, 0.0, 0.0},
      {"arm.w_0_start[2]", 0.0, 0.0, 0.0},
      {"arm.w_0_start[3]", 0.0, 0.0, 0.0},
      {"arm.z_0_start[1]", 0.0, 0.0, 0.0},
      {"arm.z_0_start[2]", 0.0, 0.0, 0.0},
      {"arm.z_0_start[3]", 0.0, 0.0, 0.0},
      {"arm.extra", 0.0, 0.0, 0.0},
      {"arm.frameTranslation.extra", 0.0, 0.0, 0.0},
      {"pendulum.r_CM[1]", 0.0, 0.0, 0.0},
      {"pendulum.r_CM[2]", 0.2105, 0.0, 0.0},
      {"pendulum.r_CM[3]", 0.0, 0.0, 0.0},
      {"pendulum.m", 0.035, 0.0, 1e100},
      {"pendulum.I_11", 0.00384, 0.0, 1e100},
      {"pendulum.I_22", 0.001, 0.0, 1e100},
      {"pendulum.I_33", 0.001, 0.0, 1e100},
      {"pendulum.I_21", 0.0, -1e60, 1e100},
      {"pendulum.I_31", 0.0, -1e60, 1e100},
      {"pendulum.I_32", 0.0, -1e60, 1e100},
      {"pendulum.angles_start[1]", 0.0, 0.0, 0.0},
      {"pendulum.angles_start[2]", 0.0, 0.0, 0.0},
      {"pendulum.angles_start[3]", 0.0, 0.0, 0.0},
      {"pendulum.w_0_start[1]", 0.0, 0.0, 0.0},
      {"pendulum.w_0_start[2]", 0.0, 0.0, 0.0},
      {"pendulum.w_0_start[3]", 0.0, 0.0, 0.0},
      {"pendulum.z_0_start[1]", 0.0, 0.0, 0.0},
      {"pendulum.z_0_start[2]", 0.0, 0.0, 0.0},
      {"pendulum.z_0_start[3]", 0.0, 0.0, 0.0},
      {"pendulum.extra", 0.0, 0.0, 0.0},
      {"pendulum.frameTranslation.extra", 0.0, 0.0, 0.0},
      {"armJoint.fixed.phi0", 0.0, 0.0, 0.0},
      {"pendulumJoint.fixed.phi0", 0.0, 0.0, 0.0},
      {"armBearingFriction.peak", 1.0, 1.0, 1e100},
      {"armBearingFriction.w_small", 10000000000.0, 0.0, 0.0},
      {"pendulumBearingFriction.peak", 1.0, 1.0, 1e100},
      {"pendulumBearingFriction.w_small", 10000000000.0, 0.0, 0.0},
  };
  static_assert(sizeof expected / sizeof expected[0] == ModelParameterCount);
  ResultWriterPhase = 0;
  declare_(states.data(), parameters.data(), nullptr);
  for (int i = 0; i < ModelParameterCount; ++i) {
    SCOPED_TRACE(expected[i].name);
    const VariableRecord* record = record_at(KindParameter, i);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->name, expected[i].name);
    EXPECT_EQ(record->index, i);
    EXPECT_EQ(record->min, expected[i].min);
    EXPECT_EQ(record->max, expected[i].max);
    EXPECT_EQ(parameters[i], expected[i].start);
  }
}

TEST_F(DeclareWalk, PhaseZeroToleratesNullArguments) {
  ResultWriterPhase = 0;
  declare_(nullptr, parameters.data(), nullptr);
  EXPECT_EQ(parameters[0], 9.81);
  declare_(states.data(), nullptr, nullptr);
  EXPECT_EQ(states[2], 0.5235987755983);
  declare_(nullptr, nullptr, nullptr);
}

TEST_F(DeclareWalk, OtherPhasesChangeNothing) {
  for (int phase : {2, 4, 6, 8, 9, 10, -1}) {
    SCOPED_TRACE(phase);
    ResultWriterPhase = phase;
    int32_t qiErr = -3;
    declare_(states.data(), parameters.data(), &qiErr);
    EXPECT_EQ(qiErr, -3);
    for (double v : states) EXPECT_EQ(v, Untouched);
    for (double v : parameters) EXPECT_EQ(v, Untouched);
    EXPECT_EQ(ResultWriterPhase, phase);
  }
}
