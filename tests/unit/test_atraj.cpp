// Trajectory layer: records and their ownership, the "Atrajectory" file in both formats with
// one data matrix written row by row, and the failure paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "log_capture.h"
#include "mat4_reader.h"
#include "test_platform.h"
#include "results/atraj.h"

namespace {

template <typename T>
T* heap(std::initializer_list<T> values) {
  T* p = static_cast<T*>(std::malloc(values.size() * sizeof(T)));
  size_t k = 0;
  for (T v : values) p[k++] = v;
  return p;
}

char** heap_strings(std::initializer_list<const char*> texts) {
  char** p = static_cast<char**>(std::malloc(texts.size() * sizeof(char*)));
  size_t k = 0;
  for (const char* t : texts) p[k++] = amat_strdup(t);
  return p;
}

// Signals Time, x (time-invariant, in data_1) and y (in data_2 with sign -1); data_2 is the
// row-wise matrix of (time, y); a third matrix, when there is one, holds one double.
void make_trajectory(Atrajectory& t, int32_t nData) {
  ASSERT_EQ(atrajInit(&t, nData, 0), 0) << amatErrorMessage;
  amatSet(t.name.name, 3, 0, charMatrix, heap_strings({"Time", "x", "y"}), &t.name);
  amatSet(t.description.name, 3, 0, charMatrix,
          heap_strings({"Time in seconds", "position", "speed"}), &t.description);
  amatSet(t.dataInfo.name, 3, 4, integerMatrix,
          heap<int32_t>({0, 1, 2, 1, 2, -2, 0, 0, 0, -1, -1, -1}), &t.dataInfo);
  amatSet(t.data[0].name, 2, 2, realMatrix, heap<float>({0.0f, 1.0f, 5.0f, 5.0f}), &t.data[0]);
  t.data[1].ncol = 2;
  if (nData > 2) amatSet(t.data[2].name, 1, 1, doubleMatrix, heap<double>({2.5}), &t.data[2]);
}

class AtrajTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  void TearDown() override {
    if (file.fp) amatPutClose(&file);
    atrajFree(&traj);
    amatFailAllocationAfter = -1;
  }
  mat4::ScratchDirectory dir;
  std::string path = dir.file("dsres.mat");
  Atrajectory traj{};
  AmatFile file{};
};

TEST_F(AtrajTest, InitCreatesHeaderAndDataRecordsOfThePrecision) {
  struct Case {
    int32_t precision, type;
  } cases[] = {{0, realMatrix}, {1, doubleMatrix}, {2, doubleRowMatrix}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.precision);
    ASSERT_EQ(atrajInit(&traj, 2, c.precision), 0);
    EXPECT_EQ(traj.initMark, 201);
    EXPECT_EQ(traj.classDescription, nullptr);
    EXPECT_EQ(traj.evaluation, nullptr);
    EXPECT_STREQ(traj.name.name, "name");
    EXPECT_EQ(traj.name.type, charMatrix);
    EXPECT_STREQ(traj.description.name, "description");
    EXPECT_EQ(traj.description.type, charMatrix);
    EXPECT_STREQ(traj.dataInfo.name, "dataInfo");
    EXPECT_EQ(traj.dataInfo.type, integerMatrix);
    EXPECT_EQ(traj.dataInfo.ncol, 4);
    ASSERT_EQ(traj.nData, 2);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(traj.data[i].name, "data_" + std::to_string(i + 1));
      EXPECT_EQ(traj.data[i].type, c.type);
      EXPECT_EQ(traj.data[i].nrow, 0);
      EXPECT_EQ(traj.data[i].ncol, 0);
      EXPECT_EQ(traj.data[i].data, nullptr);
    }
    atrajFree(&traj);
    EXPECT_EQ(traj.nData, 0);
    EXPECT_EQ(traj.data, nullptr);
    EXPECT_EQ(traj.name.name, nullptr);
  }
  EXPECT_EQ(atrajInit(nullptr, 2, 0), 0);
  ASSERT_EQ(atrajInit(&traj, 0, 0), 0);
  EXPECT_EQ(traj.data, nullptr);
  EXPECT_STREQ(traj.dataInfo.name, "dataInfo");
}

TEST_F(AtrajTest, ArgumentFailures) {
  EXPECT_EQ(atrajInit(&traj, -1, 0), 1);
  EXPECT_STREQ(amatErrorMessage, "Input argument nData=-1 of function atrajInit must be >= 0.\n");
  EXPECT_EQ(traj.name.name, nullptr);
  EXPECT_EQ(traj.data, nullptr);

  ASSERT_EQ(atrajInit(&traj, 2, 0), 0);
  AmatMatrix* data = traj.data;
  EXPECT_EQ(atrajResize(&traj, -3, 0), 1);
  EXPECT_STREQ(amatErrorMessage,
               "Input argument nDataNew=-3 of function atrajResize must be >= 0.\n");
  EXPECT_EQ(atrajResize(&traj, 4, 1), 1);
  EXPECT_STREQ(amatErrorMessage, "traj->nData (=2) of function atrajResize must be zero.\n");
  EXPECT_EQ(atrajResize(&traj, 0, 1), 0);
  EXPECT_EQ(traj.data, data);
  EXPECT_EQ(traj.nData, 2);
  EXPECT_EQ(traj.data[1].type, realMatrix);
}

// Every allocation of atrajInit failing in turn: the storage message, nothing left allocated
// (the sanitizer build checks leaks), and no null dereference.
TEST_F(AtrajTest, AllocationFailuresReleaseEverything) {
  int failures = 0;
  for (int32_t n = 0; n < 20; ++n) {
    amatFailAllocationAfter = n;
    int r = atrajInit(&traj, 3, 1);
    amatFailAllocationAfter = -1;
    if (r == 0) break;
    ++failures;
    EXPECT_STREQ(amatErrorMessage,
                 "Not possible to allocate enough storage for a trajectory:\nCannot allocate memory\n");
    EXPECT_EQ(traj.nData, 0);
    EXPECT_EQ(traj.data, nullptr);
    EXPECT_EQ(traj.name.name, nullptr);
    EXPECT_EQ(traj.dataInfo.name, nullptr);
  }
  EXPECT_EQ(failures, 7);  // three header names, the records, three data names
  atrajFree(&traj);

  // atrajResize alone: the records stay, the one whose name failed without a name.
  ASSERT_EQ(atrajInit(&traj, 0, 0), 0);
  amatFailAllocationAfter = 2;
  EXPECT_EQ(atrajResize(&traj, 3, 0), 1);
  ASSERT_EQ(traj.nData, 3);
  EXPECT_STREQ(traj.data[0].name, "data_1");
  EXPECT_EQ(traj.data[1].name, nullptr);
  EXPECT_EQ(traj.data[2].name, nullptr);
  // (TearDown releases these records.) A failure in the first step leaves nothing behind.
  amatFailAllocationAfter = 0;
  Atrajectory other{};
  ASSERT_EQ(atrajInit(&other, 0, 0), 1);  // the first header name fails
  EXPECT_EQ(other.name.name, nullptr);
}

TEST_F(AtrajTest, BinaryFileWithRowWiseDataMatrix) {
  make_trajectory(traj, 2);
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 0) << amatErrorMessage;
  ASSERT_NE(file.fp, nullptr);
  const float rows[][2] = {{0.0f, -5.5f}, {0.001f, -6.0f}};
  for (int n = 0; n <= 2; ++n) {
    SCOPED_TRACE(n);
    if (n > 0) {
      ASSERT_EQ(atrajPutRow(&file, rows[n - 1]), 0) << amatErrorMessage;
    }
    mat4::File f = mat4::read(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(f.names(), (std::vector<std::string>{"Aclass", "name", "description", "dataInfo",
                                                   "data_1", "data_2"}));
    const mat4::Matrix& aclass = f.matrices[0];
    ASSERT_EQ(aclass.mrows, 4);
    EXPECT_EQ(aclass.row_string(0), "Atrajectory");
    EXPECT_EQ(aclass.row_string(1), "1.1");
    EXPECT_EQ(aclass.row_string(2), " ");
    EXPECT_EQ(aclass.row_string(3), "binTrans");
    // Transposed: one signal per column, padded with blanks.
    const mat4::Matrix& names = f.matrices[1];
    EXPECT_EQ(names.type, 51);
    ASSERT_EQ(names.ncols, 3);
    EXPECT_EQ(names.column_string(0), "Time");
    EXPECT_EQ(names.column_string(1), "x   ");
    EXPECT_EQ(f.matrices[2].column_string(0), "Time in seconds");
    const mat4::Matrix& info = f.matrices[3];
    EXPECT_EQ(info.type, 20);
    ASSERT_EQ(info.mrows, 4);
    ASSERT_EQ(info.ncols, 3);
    const double expectedInfo[3][4] = {{0, 1, 0, -1}, {1, 2, 0, -1}, {2, -2, 0, -1}};
    for (int s = 0; s < 3; ++s)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(info.number(c, s), expectedInfo[s][c]);
    const mat4::Matrix& d1 = f.matrices[4];
    EXPECT_EQ(d1.type, 10);
    EXPECT_EQ(d1.number(0, 1), 1.0);  // column 1 of the file: the row at the second time
    const mat4::Matrix& d2 = f.matrices[5];
    EXPECT_EQ(d2.type, 10);
    EXPECT_EQ(d2.mrows, 2);
    ASSERT_EQ(d2.ncols, n);
    for (int j = 0; j < n; ++j) EXPECT_EQ(d2.number(1, j), rows[j][1]);
  }
  ASSERT_EQ(atrajPutClose(&file, &traj, 1), 0) << amatErrorMessage;
  EXPECT_EQ(file.fp, nullptr);
  EXPECT_EQ(file.fileName, nullptr);
  mat4::File f = mat4::read(path);
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(f.matrices.back().ncols, 2);
}

TEST_F(AtrajTest, WholeFileIsWrittenAndClosed) {
  make_trajectory(traj, 2);
  amatSet(traj.data[1].name, 1, 2, realMatrix, heap<float>({0.5f, 7.0f}), &traj.data[1]);
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, -1, 1, &file), 0) << amatErrorMessage;
  EXPECT_EQ(file.fp, nullptr);
  mat4::File f = mat4::read(path);
  ASSERT_TRUE(f.ok) << f.error;
  ASSERT_EQ(f.matrices.size(), 6u);
  EXPECT_EQ(f.matrices[0].row_string(3), "binNormal");
  EXPECT_EQ(f.matrices[1].mrows, 3);  // binNormal: one name per row
  EXPECT_EQ(f.matrices[1].row_string(2), "y");
  EXPECT_EQ(f.matrices[5].number(0, 1), 7.0);
}

// The text format of a trajectory, byte by byte, in a process locale with a decimal comma:
// data_2 row-wise, data_3 written whole at closing.
TEST_F(AtrajTest, TextFileByteExact) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << DecimalCommaLocale << " is not installed";
  make_trajectory(traj, 3);
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 0, &file), 0) << amatErrorMessage;
  const float r1[] = {0.0f, 5.5f}, r2[] = {0.001f, 6.0f};
  ASSERT_EQ(atrajPutRow(&file, r1), 0);
  ASSERT_EQ(atrajPutRow(&file, r2), 0);
  ASSERT_EQ(atrajPutClose(&file, &traj, 1), 0) << amatErrorMessage;
  const std::string expected =
      "#1\n"
      "char Aclass(3,11)\nAtrajectory\n1.1\n \n\n"
      "char name(3,4)\nTime\nx\ny\n\n"
      "char description(3,15)\nTime in seconds\nposition\nspeed\n\n"
      "\n"
      "# Matrix with 4 columns defining the data of the signals:\n"
      "#\n"
      "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
      "#                      (1,1)=0, means that name(1) is used as abscissa\n"
      "#                      for ALL data matrices!\n"
      "#\n"
      "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
      "#                      data_j with sign(k) used as sign.\n"
      "#\n"
      "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
      "#              = 1..4: Piecewise convex hermite spline interpolation\n"
      "#                      of the column data. Curve is differentiable upto\n"
      "#                      order 1..4. The spline is defined by a polygon.\n"
      "#                      It touches the polygon in the middle of every segment\n"
      "#                      and at the beginning and final point. Between such\n"
      "#                      points the spline is convex. The polygon is also the\n"
      "#                      convex envelope of the spline.\n"
      "#\n"
      "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
      "#              =    0: Keep first/last value outside of time range\n"
      "#              =    1: Linear interpolation through first/last two points outside\n"
      "#                      of time range.\n"
      "#\n"
      "int dataInfo(3,4)\n"
      "  0  1  0 -1   # Time\n"
      "  1  2  0 -1   # x\n"
      "  2 -2  0 -1   # y\n\n"
      "float data_1(2,2)\n"
      "       0              5       \n"
      "       1              5       \n\n"
      "float data_2(2,2)" + std::string(30, ' ') + "\n"
      "  0.0000000E+00  5.5000000E+00\n"
      "  1.0000000E-03  6.0000000E+00\n\n"
      "double data_3(1,1)\n"
      "   2.500000000000000E+00\n\n";
  EXPECT_EQ(mat4::slurp(path), text_file(expected));
}

TEST_F(AtrajTest, FailuresLeaveTheFileClosed) {
  make_trajectory(traj, 3);
  const std::string missing = dir.file("no/dsres.mat");
  EXPECT_EQ(atrajPutOpen(missing.c_str(), &traj, 1, 1, &file), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Error opening file \"" + missing + "\": No such file or directory\n");
  EXPECT_EQ(file.fp, nullptr);

  EXPECT_EQ(atrajPutOpen(path.c_str(), &traj, 3, 1, &file), 1);
  EXPECT_STREQ(amatErrorMessage,
               "Input argument index=3 of function atrajPutOpen must be < nData (= 3).\n");
  EXPECT_EQ(file.fp, nullptr);

  traj.data[1].type = integerMatrix;  // cannot be written row-wise
  EXPECT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Wrong argument \"type\" (= 1) in function amatPutRinit,\nwhen initializing writing of "
            "matrix \"data_2\" to file \"" + path +
                "\".\n(type = realMatrix or doubleMatrix required).\n");
  EXPECT_EQ(file.fp, nullptr);
  EXPECT_EQ(file.fileName, nullptr);

  traj.data[1].type = realMatrix;
  traj.data[2].type = voidMatrix;  // fails when closing
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 0);
  EXPECT_EQ(atrajPutClose(&file, &traj, 1), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Error when writing matrix \"data_3(1,1)\" to file \"" + path +
                "\":\nThe datatype of the matrix is not specified (matrix.type = voidMatrix).\n");
  EXPECT_EQ(file.fp, nullptr);
  EXPECT_EQ(file.rowName, nullptr);
  traj.data[2].type = doubleMatrix;  // so that atrajFree releases its data as doubles
}

}  // namespace
