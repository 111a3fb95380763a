// Result writer: numbering, the layout of "dsres.mat" after open, the rows, closing and its
// ownership. The fatal paths: test_result_writer_exit_posix.cpp.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mat4_reader.h"
#include "model/variable_table.h"
#include "result_writer_fixture.h"
#include "results/result_writer.h"

namespace {

constexpr int32_t nConstant = 1731;
constexpr int32_t nVarying = 107;
constexpr int32_t nAlias = 486;
constexpr int32_t total = nConstant + nVarying + nAlias + 1;
constexpr size_t bytesBeforeRows = 513942;
constexpr size_t bytesPerRow = 432;

// The record at a position of a kind's value array, or null.
const VariableRecord* record_at(int kind, int position) {
  int seen = 0;
  for (const VariableRecord& record : variableTable) {
    if (record_kind(record) != kind) continue;
    if (seen++ == position) return &record;
  }
  return nullptr;
}


// dataInfo row of signal i of a parsed file.
struct DataInfo {
  int32_t matrix, column, interpolation, extrapolation;
  bool operator==(const DataInfo&) const = default;
};
std::ostream& operator<<(std::ostream& os, const DataInfo& d) {
  return os << "(" << d.matrix << ", " << d.column << ", " << d.interpolation << ", "
            << d.extrapolation << ")";
}
DataInfo data_info(const mat4::Matrix& m, int32_t signal) {
  return {static_cast<int32_t>(m.number(0, signal)), static_cast<int32_t>(m.number(1, signal)),
          static_cast<int32_t>(m.number(2, signal)), static_cast<int32_t>(m.number(3, signal))};
}
std::string trimmed(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }

}  // namespace

TEST_F(ResultWriterTest, PrepareNumbersEveryVariable) {
  result_file_prepare(&result);
  EXPECT_EQ(ResultWriterPhase, 2);
  EXPECT_EQ(resultCursors.nConstant, nConstant);
  EXPECT_EQ(resultCursors.nVarying, nVarying);
  EXPECT_EQ(resultCursors.nAlias, nAlias);
  EXPECT_EQ(result.total, total);
  EXPECT_EQ(result.isAllocated, 1);
  EXPECT_EQ(result.isOpen, 0);
  EXPECT_EQ(result.kindIndex[0], nullptr);

  // Codes in table order: data_1 codes -1, -2, ... and data_2 codes 1, 2, ... as the records
  // come, whatever their kind.
  int32_t nextConstant = 0, nextVarying = 0;
  int seen[7] = {};
  for (const VariableRecord& record : variableTable) {
    const int kind = record_kind(record);
    if (kind < KindParameter || kind > KindAuxiliary) continue;
    const bool constant = kind == KindParameter || (kind >= KindOutput && is_time_invariant(record));
    const int32_t code = result.kindIndex[kind][seen[kind]++];
    ASSERT_EQ(code, constant ? -(++nextConstant) : ++nextVarying) << record.name;
  }
  EXPECT_EQ(result.kindIndex[KindParameter][variable_position(find_variable("world.g"))], -20);
  EXPECT_EQ(result.kindIndex[KindState][0], 70);  // armJoint.phi
  EXPECT_EQ(result.kindIndex[KindAuxiliary][1736], 96);  // armBearingFriction.sa

  const Atrajectory& t = result.traj;
  ASSERT_EQ(t.nData, 2);
  struct Expected {
    const AmatMatrix* m;
    const char* name;
    int32_t nrow, ncol, type;
    const void* data;
  } matrices[] = {
      {&t.name, "name", total, 0, charMatrix, result.names},
      {&t.description, "description", total, 0, charMatrix, result.descriptions},
      {&t.dataInfo, "dataInfo", total, 4, integerMatrix, result.dataInfo},
      {&t.data[0], "data_1", 2, nConstant + 1, realMatrix, result.data1},
      {&t.data[1], "data_2", 1, nVarying + 1, realMatrix, result.data2Row},
  };
  for (const Expected& e : matrices) {
    SCOPED_TRACE(e.name);
    EXPECT_STREQ(e.m->name, e.name);
    EXPECT_EQ(e.m->nrow, e.nrow);
    EXPECT_EQ(e.m->ncol, e.ncol);
    EXPECT_EQ(e.m->type, e.type);
    EXPECT_NE(e.data, nullptr);
    EXPECT_EQ(e.m->data, e.data);
  }
}

TEST_F(ResultWriterTest, OpenWritesTheLayoutOfTheResultFile) {
  prepare_and_open(0.0, 1e-9);
  EXPECT_EQ(ResultWriterPhase, 6);
  EXPECT_EQ(result.isOpen, 1);
  EXPECT_EQ(result.rowCounter, 0);
  const std::string bytes = mat4::slurp("dsres.mat");
  EXPECT_EQ(bytes.size(), bytesBeforeRows);
  const mat4::File f = mat4::parse(bytes);
  ASSERT_TRUE(f.ok) << f.error;

  struct Layout {
    const char* name;
    int32_t type, mrows, ncols;
    size_t offset;
  } layout[] = {
      {"Aclass", 51, 4, 11, 0},
      {"name", 51, 47, total, 71},
      {"description", 51, 152, total, 71 + 109300},
      {"dataInfo", 20, 4, total, 71 + 109300 + 353432},
      {"data_1", 10, nConstant + 1, 2, 71 + 109300 + 353432 + 37229},
      {"data_2", 10, nVarying + 1, 0, 71 + 109300 + 353432 + 37229 + 13883},
  };
  ASSERT_EQ(f.matrices.size(), std::size(layout));
  for (size_t i = 0; i < std::size(layout); ++i) {
    const mat4::Matrix& m = f.matrices[i];
    SCOPED_TRACE(layout[i].name);
    EXPECT_EQ(m.name, layout[i].name);
    EXPECT_EQ(m.type, layout[i].type);
    EXPECT_EQ(m.mrows, layout[i].mrows);
    EXPECT_EQ(m.ncols, layout[i].ncols);
    EXPECT_EQ(m.imagf, 0);
    EXPECT_EQ(m.offset, layout[i].offset);
  }
  const mat4::Matrix& aclass = f.matrices[0];
  EXPECT_EQ(trimmed(aclass.row_string(0)), "Atrajectory");
  EXPECT_EQ(trimmed(aclass.row_string(1)), "1.1");
  EXPECT_EQ(aclass.row_string(2), " ");
  EXPECT_EQ(trimmed(aclass.row_string(3)), "binTrans");

  const mat4::Matrix& names = *f.find("name");
  const mat4::Matrix& descriptions = *f.find("description");
  const mat4::Matrix& info = *f.find("dataInfo");
  const mat4::Matrix& data1 = *f.find("data_1");
  EXPECT_EQ(names.column_string(0), "Time" + std::string(43, ' '));
  EXPECT_EQ(trimmed(descriptions.column_string(0)), "Time in seconds");
  for (int32_t i = 0; i < VariableTableSize; ++i) {
    ASSERT_EQ(trimmed(names.column_string(i + 1)), variableTable[i].name) << i;
    ASSERT_EQ(trimmed(descriptions.column_string(i + 1)), variableTable[i].description) << i;
  }

  struct Case {
    const char* name;
    DataInfo expected;
  } cases[] = {
      {"Time", {0, 1, 0, -1}},
      {"world.frame_b.r_0[1]", {1, 2, 0, -1}},
      {"world.g", {1, 21, 0, -1}},                 // a parameter
      {"armFriction", {1, 937, 0, -1}},            // a parameter
      {"armJoint.phi", {2, 71, 0, -1}},            // a state
      {"armBearingFriction.sa", {2, 97, 0, -1}},   // a time-varying auxiliary
      {"world.frame_b.f[1]", {2, -61, 0, -1}},     // alias of -armJoint.frame_a.f[1]
  };
  for (const Case& c : cases) {
    const int32_t signal = c.name == std::string("Time")
                               ? 0
                               : static_cast<int32_t>(find_variable(c.name) - variableTable) + 1;
    EXPECT_EQ(data_info(info, signal), c.expected) << c.name;
  }

  // Every signal: 0 and -1 in the last two columns, matrix 0 only for time; an alias has its
  // target's matrix and column with its own sign.
  for (int32_t i = 0; i < VariableTableSize; ++i) {
    const VariableRecord& record = variableTable[i];
    const DataInfo d = data_info(info, i + 1);
    ASSERT_EQ(d.interpolation, 0) << record.name;
    ASSERT_EQ(d.extrapolation, -1) << record.name;
    ASSERT_TRUE(d.matrix == 1 || d.matrix == 2) << record.name;
    if (record_kind(record) != KindAlias) continue;
    const VariableRecord* target = record_at(alias_target_kind(record), record.index);
    ASSERT_NE(target, nullptr) << record.name;
    const DataInfo t = data_info(info, static_cast<int32_t>(target - variableTable) + 1);
    EXPECT_EQ(d.matrix, t.matrix) << record.name;
    EXPECT_EQ(d.column, static_cast<int32_t>(alias_sign(record)) * t.column) << record.name;
  }
  // An alias of a time-invariant auxiliary points into data_1.
  EXPECT_EQ(data_info(info, static_cast<int32_t>(find_variable("world.x_arrowLine.length") -
                                                 variableTable) + 1).matrix,
            1);

  // data_1: time and t1 in column 0, then every time-invariant value at both times.
  EXPECT_EQ(data1.number(0, 0), 0.0);
  EXPECT_EQ(data1.number(0, 1), static_cast<double>(1e-9f));
  for (int32_t i = 0; i < VariableTableSize; ++i) {
    const VariableRecord& record = variableTable[i];
    const DataInfo d = data_info(info, i + 1);
    if (record_kind(record) == KindAlias || d.matrix != 1) continue;
    const double expected = static_cast<float>(value_of(record));
    ASSERT_EQ(data1.number(d.column - 1, 0), expected) << record.name;
    ASSERT_EQ(data1.number(d.column - 1, 1), expected) << record.name;
  }
  EXPECT_EQ(data1.number(20, 0), static_cast<double>(9.81f));  // world.g
}

TEST_F(ResultWriterTest, RowsGrowData2AndTheFileIsReadableAfterEveryRow) {
  prepare_and_open(0.0);
  const double times[] = {0.0, 0.001, 0.002, 0.125};
  for (size_t n = 0; n < std::size(times); ++n) {
    states[0] = 0.5 * static_cast<double>(n) + 0.25;
    auxiliaries[1736] = -3.0 * static_cast<double>(n);
    write_row(times[n]);
    EXPECT_EQ(ResultWriterPhase, 8);

    const std::string bytes = mat4::slurp("dsres.mat");
    ASSERT_EQ(bytes.size(), bytesBeforeRows + bytesPerRow * (n + 1));
    const mat4::File f = mat4::parse(bytes);
    ASSERT_TRUE(f.ok) << f.error;
    const mat4::Matrix& data2 = *f.find("data_2");
    ASSERT_EQ(data2.ncols, static_cast<int32_t>(n + 1));
    ASSERT_EQ(data2.mrows, nVarying + 1);
    EXPECT_EQ(data2.number(0, n), static_cast<double>(static_cast<float>(times[n])));
    EXPECT_EQ(data2.number(70, n), static_cast<float>(states[0]));       // armJoint.phi
    EXPECT_EQ(data2.number(96, n), static_cast<float>(auxiliaries[1736]));  // armBearingFriction.sa
    if (n > 0) {
      EXPECT_EQ(data2.number(70, n - 1), static_cast<float>(states[0] - 0.5));
    }
  }

  // Every variable read back through dataInfo from the last row or data_1, aliases with
  // their sign.
  const mat4::File f = mat4::read("dsres.mat");
  ASSERT_TRUE(f.ok) << f.error;
  const mat4::Matrix& info = *f.find("dataInfo");
  const mat4::Matrix& data1 = *f.find("data_1");
  const mat4::Matrix& data2 = *f.find("data_2");
  for (int32_t i = 0; i < VariableTableSize; ++i) {
    const VariableRecord& record = variableTable[i];
    const VariableRecord* source =
        record_kind(record) == KindAlias ? record_at(alias_target_kind(record), record.index)
                                         : &record;
    const double sign = record_kind(record) == KindAlias ? alias_sign(record) : 1.0;
    const DataInfo d = data_info(info, i + 1);
    const int32_t column = std::abs(d.column) - 1;
    const double stored = d.matrix == 1 ? data1.number(column, 0)
                                        : data2.number(column, data2.ncols - 1);
    ASSERT_EQ((d.column < 0 ? -1.0 : 1.0) * stored, sign * static_cast<float>(value_of(*source)))
        << record.name;
  }
}

// Rows are sampled through the plan that the open makes; without it, by the full walk of the
// table. Both give the same file to the byte, row after row, whatever the values.
TEST_F(ResultWriterTest, RowsThroughTheSamplingPlanAreTheBytesOfTheFullWalk) {
  auto fill = [&](int n) {
    for (size_t i = 0; i < states.size(); ++i) states[i] = 0.1 * n - 0.3 * i;
    for (size_t i = 0; i < derivatives.size(); ++i) derivatives[i] = 1.0 / (n + i + 1.0);
    for (size_t i = 0; i < auxiliaries.size(); ++i) auxiliaries[i] = std::sin(7.0 * n + i) * 1e3;
  };
  auto write_file = [&](bool withPlan) {
    result = ResultFile{};
    ResultWriterPhase = 0;
    fill(0);
    prepare_and_open(0.0);
    if (!withPlan) forget_row_sampling_plan();
    for (int n = 0; n < 6; ++n) {
      fill(n);
      write_row(0.001 * n);
    }
    result_file_close(&result);
    return mat4::slurp("dsres.mat");
  };
  const std::string walked = write_file(false);
  const std::string planned = write_file(true);
  ASSERT_EQ(walked.size(), bytesBeforeRows + 6 * bytesPerRow);
  ASSERT_EQ(planned.size(), walked.size());
  EXPECT_TRUE(planned == walked) << "the files differ first at byte "
                                 << std::mismatch(planned.begin(), planned.end(), walked.begin())
                                            .first -
                                        planned.begin();
}

TEST_F(ResultWriterTest, ValuesAreStoredAsTheNearestFloat) {
  states[0] = 1.0000000001;
  prepare_and_open();
  write_row(0.0);
  const mat4::File f = mat4::read("dsres.mat");
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(f.find("data_2")->number(70, 0), 1.0);

  struct Case {
    double in;
    float out;
  } cases[] = {
      {1.0000000001, 1.0f},
      {0.1, 0.1f},
      {-0.1, -0.1f},
      {static_cast<double>(FLT_MAX), FLT_MAX},
      {0x1.fffffefffffffp+127, FLT_MAX},  // just below the overflow threshold
      {0x1.ffffffp+127, INFINITY},        // the threshold rounds away to infinity
      {-static_cast<double>(FLT_MAX), -FLT_MAX},
      {-0x1.fffffefffffffp+127, -FLT_MAX},
      {-0x1.ffffffp+127, -INFINITY},
      {-1e39, -INFINITY},
      {1e300, INFINITY},
      {1e-50, 0.0f},
      {0x1.fffffd8p+127, FLT_MAX},          // rounds up to the largest float
      {0x1.8p-149, 0x1p-148f},              // subnormal, halfway: to even
      {-0x1p-150, -0.0f},                   // half the smallest subnormal: to even, zero
      {0x1.0000000000001p-150, 0x1p-149f},  // just above it: the smallest subnormal
  };
  for (const Case& c : cases)
    EXPECT_EQ(std::bit_cast<uint32_t>(result_float(c.in)), std::bit_cast<uint32_t>(c.out)) << c.in;
  EXPECT_TRUE(std::isnan(result_float(NAN)));
}

TEST_F(ResultWriterTest, CloseFinishesTheFileAndReleasesEverything) {
  prepare_and_open(0.0);
  write_row(0.0);
  write_row(0.001);
  result_file_close(&result);
  EXPECT_EQ(ResultWriterPhase, 0);
  EXPECT_EQ(result.isOpen, 0);
  EXPECT_EQ(result.isAllocated, 0);
  EXPECT_EQ(result.names, nullptr);
  EXPECT_EQ(result.descriptions, nullptr);
  EXPECT_EQ(result.dataInfo, nullptr);
  EXPECT_EQ(result.data1, nullptr);
  EXPECT_EQ(result.data2Row, nullptr);
  EXPECT_EQ(result.traj.data, nullptr);
  EXPECT_EQ(result.traj.name.name, nullptr);
  for (int32_t* list : result.kindIndex) EXPECT_EQ(list, nullptr);
  EXPECT_EQ(result.file.fp, nullptr);
  // The table's strings are untouched.
  EXPECT_STREQ(variableTable[0].name, find_variable(variableTable[0].name)->name);

  const mat4::File f = mat4::read("dsres.mat");
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(f.find("data_2")->ncols, 2);
  EXPECT_EQ(mat4::slurp("dsres.mat").size(), bytesBeforeRows + 2 * bytesPerRow);

  // Closing again, and a row after closing, change nothing.
  write_row(0.002);
  result_file_close(&result);
  EXPECT_EQ(ResultWriterPhase, 0);
  EXPECT_EQ(mat4::slurp("dsres.mat").size(), bytesBeforeRows + 2 * bytesPerRow);

  // A new record truncates and rewrites the file.
  result = ResultFile{};
  prepare_and_open(0.5);
  EXPECT_EQ(mat4::slurp("dsres.mat").size(), bytesBeforeRows);
  EXPECT_EQ(result.startTime, 0.5);
}

TEST_F(ResultWriterTest, CloseOfAnUnpreparedOrOnlyPreparedRecord) {
  ResultWriterPhase = 6;
  result_file_close(&result);
  EXPECT_EQ(ResultWriterPhase, 0);
  EXPECT_EQ(result.isAllocated, 0);

  result_file_prepare(&result);
  result_file_close(&result);  // prepared, never opened: released without a file
  EXPECT_EQ(ResultWriterPhase, 0);
  EXPECT_EQ(result.isAllocated, 0);
  EXPECT_EQ(result.traj.data, nullptr);
  EXPECT_FALSE(std::filesystem::exists("dsres.mat"));
}

// The walker's writer phases without a writer behind them (cursors cleared by close) touch
// neither the arrays nor freed storage.
TEST_F(ResultWriterTest, WriterPhasesAfterCloseTouchNothing) {
  prepare_and_open();
  write_row(0.0);
  result_file_close(&result);
  const std::vector<double> before = states;
  for (int phase : {1, 3, 5, 7}) {
    SCOPED_TRACE(phase);
    ResultWriterPhase = phase;
    declare_(states.data(), parameters.data(), nullptr);
    EXPECT_EQ(states, before);
  }
  EXPECT_EQ(resultCursors.nextRow, 0);
}
