// The result file "dsres.mat" at the FMI boundary: its layout after fmiInitialize, the rows on
// the millisecond grid, readable after every row, and its closing at terminate, at free and at
// a second initialisation.
#include <filesystem>
#include <functional>
#include <string>

#include "fmi_fixture.h"
#include "unit/mat4_reader.h"

namespace {

constexpr int32_t total = 2325;
constexpr int32_t nVarying = 107;
constexpr size_t bytesBeforeRows = 513942;
constexpr size_t bytesPerRow = 432;

// Columns of data_2 and data_1 (0-based) of a few signals.
constexpr int32_t ArmPhiColumn = 70;           // armJoint.phi, state 0
constexpr int32_t PendulumPhiColumn = 85;      // pendulumJoint.phi, state 2
constexpr int32_t ArmSaColumn = 96;            // armBearingFriction.sa, auxiliary 1736
constexpr int32_t ArmFrameAf1Column = 60;      // armJoint.frame_a.f[1]
constexpr int32_t WorldGConstantColumn = 20;   // world.g in data_1, parameter 0

struct DataInfo {
  int32_t matrix, column, interpolation, extrapolation;
  bool operator==(const DataInfo&) const = default;
};
std::ostream& operator<<(std::ostream& os, const DataInfo& d) {
  return os << "(" << d.matrix << ", " << d.column << ", " << d.interpolation << ", "
            << d.extrapolation << ")";
}
std::string trimmed(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }

// The signals of a parsed result file by name.
struct ResultSignals {
  const mat4::File& f;
  int32_t signal(const std::string& name) const {
    const mat4::Matrix& names = *f.find("name");
    for (int32_t j = 0; j < names.ncols; ++j)
      if (trimmed(names.column_string(j)) == name) return j;
    ADD_FAILURE() << "no signal " << name;
    return 0;
  }
  DataInfo info(const std::string& name) const {
    const mat4::Matrix& m = *f.find("dataInfo");
    const int32_t s = signal(name);
    return {static_cast<int32_t>(m.number(0, s)), static_cast<int32_t>(m.number(1, s)),
            static_cast<int32_t>(m.number(2, s)), static_cast<int32_t>(m.number(3, s))};
  }
  int32_t rows() const { return f.find("data_2")->ncols; }
  double row_value(int32_t column, int32_t row) const { return f.find("data_2")->number(column, row); }
};

class ResultFileAtBoundary : public FmiTestInScratch {
 protected:
  explicit ResultFileAtBoundary(const FmiLibrary& library = tavelo())
      : FmiTestInScratch(library) {}
  static mat4::File read_result() { return mat4::read("dsres.mat"); }
  void step(double t) {
    fmiBoolean callEventUpdate = fmiFalse;
    ASSERT_EQ(lib.SetTime(c(), t), fmiOK);
    ASSERT_EQ(lib.CompletedIntegratorStep(c(), &callEventUpdate), fmiOK);
  }
};

TEST_F(ResultFileAtBoundary, LayoutAfterInitialize) {
  create();
  ASSERT_EQ(initialize(), fmiOK);
  const std::string bytes = mat4::slurp("dsres.mat");
  EXPECT_EQ(bytes.size(), bytesBeforeRows + bytesPerRow);  // with the first row
  const mat4::File f = mat4::parse(bytes);
  ASSERT_TRUE(f.ok) << f.error;
  struct Layout {
    const char* name;
    int32_t type, mrows, ncols;
    size_t offset;
  } layout[] = {
      {"Aclass", 51, 4, 11, 0},
      {"name", 51, 47, total, 71},
      {"description", 51, 152, total, 109371},
      {"dataInfo", 20, 4, total, 462803},
      {"data_1", 10, 1732, 2, 500032},
      {"data_2", 10, nVarying + 1, 1, 513915},
  };
  ASSERT_EQ(f.matrices.size(), std::size(layout));
  for (size_t i = 0; i < std::size(layout); ++i) {
    SCOPED_TRACE(layout[i].name);
    EXPECT_EQ(f.matrices[i].name, layout[i].name);
    EXPECT_EQ(f.matrices[i].type, layout[i].type);
    EXPECT_EQ(f.matrices[i].mrows, layout[i].mrows);
    EXPECT_EQ(f.matrices[i].ncols, layout[i].ncols);
    EXPECT_EQ(f.matrices[i].offset, layout[i].offset);
  }

  const ResultSignals s{f};
  struct Case {
    const char* name;
    DataInfo expected;
  } cases[] = {
      {"Time", {0, 1, 0, -1}},
      {"world.g", {1, 21, 0, -1}},                // a parameter
      {"armJoint.phi", {2, 71, 0, -1}},           // a state
      {"armBearingFriction.sa", {2, 97, 0, -1}},  // a time-varying auxiliary
      {"world.frame_b.f[1]", {2, -61, 0, -1}},    // alias of -armJoint.frame_a.f[1]
  };
  for (const Case& c : cases) EXPECT_EQ(s.info(c.name), c.expected) << c.name;
  EXPECT_EQ(s.signal("Time"), 0);
  EXPECT_EQ(trimmed(f.find("description")->column_string(0)), "Time in seconds");

  const mat4::Matrix& data1 = *f.find("data_1");
  EXPECT_EQ(data1.number(0, 0), 0.0);
  EXPECT_EQ(data1.number(0, 1), static_cast<double>(1e-9f));
  EXPECT_EQ(data1.number(WorldGConstantColumn, 0), static_cast<double>(9.81f));
  EXPECT_EQ(data1.number(WorldGConstantColumn, 1), static_cast<double>(9.81f));

  // The first row: the values initialisation left in the instance.
  ASSERT_EQ(s.rows(), 1);
  EXPECT_EQ(s.row_value(0, 0), 0.0);
  EXPECT_EQ(s.row_value(PendulumPhiColumn, 0), static_cast<float>(0.5235987755983));
  EXPECT_EQ(s.row_value(PendulumPhiColumn, 0), static_cast<float>(m().states[2]));
  EXPECT_EQ(s.row_value(ArmSaColumn, 0), static_cast<float>(m().auxiliaries[1736]));
  EXPECT_EQ(lib.Terminate(c()), fmiOK);
}

TEST_F(ResultFileAtBoundary, RowsOnTheMillisecondGridReadableAfterEveryRow) {
  create();
  ASSERT_EQ(initialize(), fmiOK);
  struct Step {
    double t;
    bool row;
  } steps[] = {
      {0.0, false},         // not after the last row
      {0.0015, false},      // off the grid
      {0.002, true},        //
      {0.002, false},       // not after the last row
      {0.003 - 2e-7, false},  // 2e-7 s below 3 ms
      {0.003 - 5e-8, true},   // 5e-8 s below 3 ms: rounds to 3 ms
      {0.0030002, false},   // 2e-7 s from 3 ms
      {0.00300005, true},   // within 1e-7 s of 3 ms
      {0.0025, false},      // before the last row
      {0.125, true},
  };
  int32_t rows = 1;
  double x[4] = {0.0, 0.0, 0.5235987755983, 0.0};
  for (const Step& st : steps) {
    SCOPED_TRACE(st.t);
    x[0] = st.t * 10.0;  // a distinct arm angle per step
    ASSERT_EQ(lib.SetContinuousStates(c(), x, 4), fmiOK);
    step(st.t);
    rows += st.row ? 1 : 0;
    const std::string bytes = mat4::slurp("dsres.mat");
    ASSERT_EQ(bytes.size(), bytesBeforeRows + bytesPerRow * static_cast<size_t>(rows));
    const mat4::File f = mat4::parse(bytes);
    ASSERT_TRUE(f.ok) << f.error;
    const ResultSignals s{f};
    ASSERT_EQ(s.rows(), rows);
    if (st.row) {
      EXPECT_EQ(s.row_value(0, rows - 1), static_cast<double>(static_cast<float>(st.t)));
      EXPECT_EQ(s.row_value(ArmPhiColumn, rows - 1), static_cast<float>(x[0]));
    }
  }
  // The alias column holds its target's values; the reader applies the sign.
  const mat4::File f = read_result();
  const ResultSignals s{f};
  EXPECT_EQ(s.info("world.frame_b.f[1]").column, -(ArmFrameAf1Column + 1));

  // After fmiTerminate the file is closed and complete: no more rows.
  EXPECT_EQ(open_handles_on("dsres.mat"), 1);
  ASSERT_EQ(lib.Terminate(c()), fmiOK);
  EXPECT_EQ(open_handles_on("dsres.mat"), 0);
  step(0.2);
  const mat4::File after = read_result();
  ASSERT_TRUE(after.ok) << after.error;
  EXPECT_EQ(ResultSignals{after}.rows(), rows);
  EXPECT_EQ(lib.Terminate(c()), fmiOK);  // a second terminate closes nothing
}

TEST_F(ResultFileAtBoundary, RowsAlsoBeforeTimeMinusOne) {
  for (const double start : {-1.0, -2.5}) {
    SCOPED_TRACE(start);
    create();
    ASSERT_EQ(lib.SetTime(c(), start), fmiOK);
    ASSERT_EQ(initialize(), fmiOK);
    step(start + 0.001);
    step(start + 0.0015);  // off the grid
    const mat4::File f = read_result();
    ASSERT_TRUE(f.ok) << f.error;
    const ResultSignals s{f};
    ASSERT_EQ(s.rows(), 2);
    EXPECT_EQ(s.row_value(0, 0), static_cast<double>(static_cast<float>(start)));
    EXPECT_EQ(s.row_value(0, 1), static_cast<double>(static_cast<float>(start + 0.001)));
    EXPECT_EQ(f.find("data_1")->number(0, 0), static_cast<double>(static_cast<float>(start)));
    EXPECT_EQ(lib.Terminate(c()), fmiOK);
    instance.reset();
  }
}

// Values computed from parameters set before initialisation are what the file records once.
TEST_F(ResultFileAtBoundary, ParameterDependentValuesAreRecordedAsComputed) {
  create();
  const fmiValueReference vr[] = {ParameterRef(7), ParameterRef(13), ParameterRef(17),
                                  ParameterRef(8), ParameterRef(9)};
  // widthFraction, pendulumFriction, arm.m, frameDiameterFraction, specularCoefficient
  const double v[] = {10.0, 0.004, 0.5, 4.0, 0.0};
  ASSERT_EQ(lib.SetReal(c(), vr, 5, v), fmiOK);
  ASSERT_EQ(initialize(), fmiOK);
  const mat4::File f = read_result();
  ASSERT_TRUE(f.ok) << f.error;
  const ResultSignals s{f};
  const struct {
    const char* name;
    double value;
  } cases[] = {
      {"world.gravityArrowDiameter", 0.025},
      {"arm.width", 0.0245},
      {"arm.shape2.width", 0.049},              // an alias of arm.sphereDiameter
      {"pendulumBearingFriction.tau0", 0.004},  // an alias of the table entry
      {"arm.body.m", 0.5},
      {"world.x_label.cylinders[1].size[1]", 0.5303300858899106},  // its length, label scale 0.375
      {"world.x_label.cylinders[1].ryvisobj[1]", -0.7071067811865476},  // its e_y[1]
      {"arm.shape1.Material", 49990},
      {"pendulumJoint.cylinder.Material", 9900000},
      {"arm.body.frame_a.f[2]", 0.5 * 9.81},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const DataInfo info = s.info(k.name);
    ASSERT_EQ(info.matrix, 1);  // recorded once
    ASSERT_GT(info.column, 0);
    EXPECT_EQ(f.find("data_1")->number(info.column - 1, 0),
              static_cast<double>(static_cast<float>(k.value)));
  }
}

TEST_F(ResultFileAtBoundary, FreeWithoutTerminateClosesTheFile) {
  create();
  ASSERT_EQ(initialize(), fmiOK);
  step(0.001);
  EXPECT_EQ(open_handles_on("dsres.mat"), 1);
  instance.reset();  // freed while the file is open
  EXPECT_EQ(open_handles_on("dsres.mat"), 0);
  const mat4::File f = read_result();
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(ResultSignals{f}.rows(), 2);

  // A new instance writes a new file from the start.
  create();
  ASSERT_EQ(initialize(), fmiOK);
  EXPECT_EQ(mat4::slurp("dsres.mat").size(), bytesBeforeRows + bytesPerRow);
}

TEST_F(ResultFileAtBoundary, SecondInitializeStartsANewFile) {
  create();
  ASSERT_EQ(initialize(), fmiOK);
  step(0.001);
  step(0.002);
  ASSERT_EQ(lib.SetTime(c(), 0.5), fmiOK);
  ASSERT_EQ(initialize(), fmiOK);  // the open file is closed first
  EXPECT_EQ(open_handles_on("dsres.mat"), 1);
  const mat4::File f = read_result();
  ASSERT_TRUE(f.ok) << f.error;
  const ResultSignals s{f};
  ASSERT_EQ(s.rows(), 1);
  EXPECT_EQ(s.row_value(0, 0), 0.5);
  step(0.501);
  EXPECT_EQ(ResultSignals{read_result()}.rows(), 2);
  EXPECT_EQ(lib.Terminate(c()), fmiOK);
}

constexpr int FaultNone = 0;
constexpr int FaultModelError = 1;

// Through the test build of the library, whose initialisation can be made to fail.
class ResultFileAfterFailedInitialize : public ResultFileAtBoundary {
 protected:
  ResultFileAfterFailedInitialize() : ResultFileAtBoundary(tavelo_faults()) {}
  void SetUp() override {
    ResultFileAtBoundary::SetUp();
    ASSERT_NE(lib.testSetFault, nullptr);
  }
  void TearDown() override {
    if (lib.testSetFault) lib.testSetFault(FaultNone);
    ResultFileAtBoundary::TearDown();
  }
};

// A failed fmiInitialize leaves the writer prepared but no file open: completed steps write
// nothing, and the next fmiInitialize or the free releases the prepared storage.
TEST_F(ResultFileAfterFailedInitialize, NoFileAndNoRowsThenANormalStart) {
  create();
  lib.testSetFault(FaultModelError);
  ASSERT_EQ(initialize(), fmiError);
  EXPECT_FALSE(std::filesystem::exists("dsres.mat"));
  step(0.001);
  EXPECT_FALSE(std::filesystem::exists("dsres.mat"));

  lib.testSetFault(FaultNone);
  ASSERT_EQ(lib.SetTime(c(), 0.0), fmiOK);
  ASSERT_EQ(initialize(), fmiOK);
  step(0.001);
  const mat4::File f = read_result();
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(ResultSignals{f}.rows(), 2);
  EXPECT_EQ(lib.Terminate(c()), fmiOK);
}

TEST_F(ResultFileAfterFailedInitialize, FreeAfterAFailedInitialize) {
  create();
  lib.testSetFault(FaultModelError);
  ASSERT_EQ(initialize(), fmiError);
  instance.reset();  // the prepared storage goes with the instance (the leak check sees it)
  lib.testSetFault(FaultNone);
  create();
  ASSERT_EQ(initialize(), fmiOK);
  EXPECT_EQ(mat4::slurp("dsres.mat").size(), bytesBeforeRows + bytesPerRow);
}

}  // namespace
