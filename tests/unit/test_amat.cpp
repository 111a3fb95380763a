// Matrix-file writer: byte-exact MAT v4 binary layouts, the text format, row-wise growth with
// the header rewritten after every row, and the error messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "log_capture.h"
#include "mat4_reader.h"
#include "test_platform.h"
#include "results/amat.h"
#include "results/file_cut.h"

namespace {

using mat4::bytes_of;
using mat4::header;

std::string with_nul(const char* s) { return std::string(s, std::strlen(s) + 1); }

class AmatTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  void TearDown() override {
    if (file.fp && file.isFile) amatPutClose(&file);
    amatFailAllocationAfter = -1;
  }
  std::string path(const char* name = "m.mat") const { return dir.file(name); }
  // Opens a file without class matrix, so the file holds exactly what the test writes.
  void open_bare(int32_t format, int32_t bstruct, const std::string& p) {
    ASSERT_EQ(amatPutOpen(p.c_str(), format, bstruct, nullptr, nullptr, nullptr, &file), 0)
        << amatErrorMessage;
  }
  std::string written(const std::string& p) {
    amatPutClose(&file);
    return mat4::slurp(p);
  }

  mat4::ScratchDirectory dir;
  AmatFile file{};
};

// The class matrix of a binary trajectory file opened with binTrans, byte by byte.
TEST_F(AmatTest, ClassMatrixOfBinaryTrajectoryFile) {
  ASSERT_EQ(amatPutOpen(path().c_str(), 1, binTrans, "Atrajectory", "1.1", nullptr, &file), 0);
  EXPECT_EQ(file.bstruct, binTrans);
  EXPECT_EQ(file.isFile, 1);
  std::string columns("A1 bt.\0ir1 na\0 Tj  re  ac  nt  so  \0r   y   ", 44);
  EXPECT_EQ(written(path()), header(51, 4, 11, 0, 7) + with_nul("Aclass") + columns);
}

TEST_F(AmatTest, ClassMatrixVariants) {
  struct Case {
    int32_t format, bstruct;
    const char* className;
    const char* version;
    const char* description;
    std::vector<std::string> binaryRows;  // binary: the class rows as a reader sees them
    std::string text;                     // text: the whole file
  } cases[] = {
      {1, binNormal, "Atrajectory", "1.1", nullptr, {"Atrajectory", "1.1", " ", "binNormal"}, ""},
      {1, binTrans, "Cls", nullptr, "about", {"Cls", " ", "about", "binTrans"}, ""},
      {1, binTrans, nullptr, "1.1", nullptr, {}, ""},
      {1, binTrans, "", "1.1", nullptr, {}, ""},
      {0, binTrans, "Atrajectory", "1.1", nullptr, {}, "#1\nchar Aclass(3,11)\nAtrajectory\n1.1\n \n\n"},
      {0, binNormal, nullptr, nullptr, nullptr, {}, "#1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className ? c.className : "(null)");
    ASSERT_EQ(amatPutOpen(path().c_str(), c.format, c.bstruct, c.className, c.version,
                          c.description, &file), 0) << amatErrorMessage;
    EXPECT_EQ(file.bstruct, c.bstruct);
    std::string bytes = written(path());
    if (c.format == 0) {
      EXPECT_EQ(bytes, text_file(c.text));
      continue;
    }
    mat4::File f = mat4::parse(bytes);
    ASSERT_TRUE(f.ok) << f.error;
    if (c.binaryRows.empty()) {
      EXPECT_TRUE(f.matrices.empty());
      continue;
    }
    ASSERT_EQ(f.matrices.size(), 1u);
    const mat4::Matrix& m = f.matrices[0];
    EXPECT_EQ(m.name, "Aclass");
    EXPECT_EQ(m.type, 51);
    ASSERT_EQ(m.mrows, 4);  // always written binNormal
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(m.row_string(i), c.binaryRows[i]);
  }
}

TEST_F(AmatTest, CharMatrixLayoutsAndPad) {
  const char* abRows[] = {"ab", "abcd"};
  const char* nullRows[] = {nullptr, "x"};
  struct Case {
    const char* const* rows;
    int32_t nrow, bstruct;
    char pad;
    std::string expected;
  } cases[] = {
      {abRows, 2, binNormal, ' ', header(51, 2, 4, 0, 2) + with_nul("c") + std::string("aabb\0c d", 8)},
      {abRows, 2, binTrans, ' ', header(51, 4, 2, 0, 2) + with_nul("c") + "ab  abcd"},
      {abRows, 2, binNormal, '*', header(51, 2, 4, 0, 2) + with_nul("c") + std::string("aabb\0c*d", 8)},
      {abRows, 2, binTrans, '*', header(51, 4, 2, 0, 2) + with_nul("c") + "ab**abcd"},
      {nullRows, 2, binNormal, ' ', header(51, 2, 1, 0, 2) + with_nul("c") + std::string("\0x", 2)},
      {nullRows, 2, binTrans, ' ', header(51, 1, 2, 0, 2) + with_nul("c") + " x"},
      {nullptr, 0, binNormal, ' ', header(51, 0, 0, 0, 2) + with_nul("c")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bstruct " << c.bstruct << " pad " << c.pad);
    open_bare(1, c.bstruct, path());
    AmatMatrix m;
    // The declared width is not used by the binary writer.
    amatSet(const_cast<char*>("c"), c.nrow, 9, charMatrix, const_cast<const char**>(c.rows), &m);
    ASSERT_EQ(amatPutMatrixEx(&file, &m, nullptr, nullptr, 0, c.pad), 0) << amatErrorMessage;
    EXPECT_EQ(written(path()), c.expected);
  }
}

// A 2 x 3 matrix with rows (1 3 5) and (2 4 6), in each numeric type and both layouts.
TEST_F(AmatTest, NumericMatricesInBothLayouts) {
  int32_t ints[] = {1, 2, 3, 4, 5, 6};
  float floats[] = {1, 2, 3, 4, 5, 6};
  double doubles[] = {1, 2, 3, 4, 5, 6};
  double row0[] = {1, 3, 5}, row1[] = {2, 4, 6};
  double* rows[] = {row0, row1};
  struct Case {
    int32_t type;
    void* data;
    int32_t matType;
    std::string normal, transposed;
  } cases[] = {
      {integerMatrix, ints, 20, bytes_of<int32_t>({1, 2, 3, 4, 5, 6}), bytes_of<int32_t>({1, 3, 5, 2, 4, 6})},
      {realMatrix, floats, 10, bytes_of<float>({1, 2, 3, 4, 5, 6}), bytes_of<float>({1, 3, 5, 2, 4, 6})},
      {doubleMatrix, doubles, 0, bytes_of<double>({1, 2, 3, 4, 5, 6}), bytes_of<double>({1, 3, 5, 2, 4, 6})},
      {doubleRowMatrix, rows, 0, bytes_of<double>({1, 2, 3, 4, 5, 6}), bytes_of<double>({1, 3, 5, 2, 4, 6})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    for (int32_t bstruct : {binNormal, binTrans}) {
      open_bare(1, bstruct, path());
      AmatMatrix m;
      amatSet(const_cast<char*>("mat"), 2, 3, c.type, c.data, &m);
      ASSERT_EQ(amatPutMatrix(&file, &m), 0) << amatErrorMessage;
      std::string expected = bstruct == binNormal
                                 ? header(c.matType, 2, 3, 0, 4) + with_nul("mat") + c.normal
                                 : header(c.matType, 3, 2, 0, 4) + with_nul("mat") + c.transposed;
      EXPECT_EQ(written(path()), expected) << "bstruct " << bstruct;
    }
  }
}

TEST_F(AmatTest, EmptyMatrixWritesOnlyHeaderAndName) {
  for (int32_t bstruct : {binNormal, binTrans}) {
    open_bare(1, bstruct, path());
    AmatMatrix m;
    amatSet(const_cast<char*>("e"), 0, 3, doubleMatrix, nullptr, &m);
    ASSERT_EQ(amatPutMatrix(&file, &m), 0) << amatErrorMessage;
    amatSet(const_cast<char*>("f"), 2, 0, integerMatrix, nullptr, &m);
    ASSERT_EQ(amatPutMatrix(&file, &m), 0) << amatErrorMessage;
    std::string expected = bstruct == binNormal
                               ? header(0, 0, 3, 0, 2) + with_nul("e") + header(20, 2, 0, 0, 2) + with_nul("f")
                               : header(0, 3, 0, 0, 2) + with_nul("e") + header(20, 0, 2, 0, 2) + with_nul("f");
    EXPECT_EQ(written(path()), expected);
  }
}

// A row matrix with rows but no columns has no row pointers to follow.
TEST_F(AmatTest, EmptyRowMatrixWithoutRowArray) {
  for (int32_t bstruct : {binNormal, binTrans}) {
    open_bare(1, bstruct, path());
    AmatMatrix m;
    amatSet(const_cast<char*>("g"), 2, 0, doubleRowMatrix, nullptr, &m);
    ASSERT_EQ(amatPutMatrix(&file, &m), 0) << amatErrorMessage;
    EXPECT_EQ(written(path()), (bstruct == binNormal ? header(0, 2, 0, 0, 2) : header(0, 0, 2, 0, 2)) +
                                   with_nul("g"));
  }
}

// data_2 grows by rows of 108 floats behind other matrices; after every row the file on disk
// is a complete MAT v4 file whose last header counts the rows so far.
TEST_F(AmatTest, RowWiseMatrixIsReadableAfterEveryRow) {
  ASSERT_EQ(amatPutOpen(path().c_str(), 1, binTrans, "Atrajectory", "1.1", nullptr, &file), 0);
  float before[] = {1.5f, -2.0f};
  AmatMatrix m;
  amatSet(const_cast<char*>("data_1"), 1, 2, realMatrix, before, &m);
  ASSERT_EQ(amatPutMatrix(&file, &m), 0);
  ASSERT_EQ(amatPutRinit(&file, "data_2", 108, realMatrix), 0) << amatErrorMessage;

  std::vector<std::vector<float>> rows;
  for (int n = 0; n <= 3; ++n) {
    if (n > 0) {
      std::vector<float> row(108);
      for (int k = 0; k < 108; ++k) row[k] = static_cast<float>(n * 1000 + k) / 8.0f;
      ASSERT_EQ(amatPutRrow(&file, row.data()), 0) << amatErrorMessage;
      rows.push_back(row);
    }
    SCOPED_TRACE(n);
    std::string bytes = mat4::slurp(path());  // the file is still open
    mat4::File f = mat4::parse(bytes);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(f.names(), (std::vector<std::string>{"Aclass", "data_1", "data_2"}));
    const mat4::Matrix& d = f.matrices[2];
    EXPECT_EQ(bytes.substr(d.offset, 20), header(10, 108, n, 0, 7));
    EXPECT_EQ(bytes.size() - d.offset, 27u + 432u * n);
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < 108; ++k) ASSERT_EQ(d.number(k, j), rows[j][k]);
  }
  ASSERT_EQ(amatPutRclose(&file), 0) << amatErrorMessage;
  EXPECT_EQ(file.rowName, nullptr);
  // More whole matrices may follow the row-wise one.
  amatSet(const_cast<char*>("after"), 1, 2, realMatrix, before, &m);
  ASSERT_EQ(amatPutMatrix(&file, &m), 0);
  mat4::File f = mat4::parse(written(path()));
  ASSERT_TRUE(f.ok) << f.error;
  ASSERT_EQ(f.names(), (std::vector<std::string>{"Aclass", "data_1", "data_2", "after"}));
  EXPECT_EQ(f.matrices[2].ncols, 3);
  EXPECT_EQ(f.matrices[3].number(1, 0), -2.0);  // binTrans: 2 x 1
}

// A result file grows past 2 GiB in long runs: the header position and the end of the file are
// 64-bit positions. The file is made large by moving the stream beyond its end (sparse on the
// test machines), so the row-wise matrix starts just below 2 GiB, just above it, and just
// above 4 GiB; a 32-bit position fails, or rewrites the header near the start of the file.
TEST_F(AmatTest, RowWiseMatrixBeyondTwoGiB) {
  constexpr int64_t TwoGiB = int64_t{1} << 31;
  for (int64_t start : {TwoGiB - 12, TwoGiB + 8, 2 * TwoGiB + 8}) {
    SCOPED_TRACE(start);
    const std::string p = path("big.mat");
    open_bare(1, binTrans, p);
    ASSERT_EQ(fseeko(file.fp, start, SEEK_SET), 0);
    ASSERT_EQ(amatPutRinit(&file, "r", 2, realMatrix), 0) << amatErrorMessage;
    EXPECT_EQ(file.headerPos, start);
    const float row[] = {1.5f, -2.0f};
    ASSERT_EQ(amatPutRrow(&file, row), 0) << amatErrorMessage;
    ASSERT_EQ(amatPutRrow(&file, row), 0) << amatErrorMessage;
    ASSERT_EQ(amatPutRclose(&file), 0) << amatErrorMessage;
    amatPutClose(&file);

    std::ifstream in(p, std::ios::binary);
    std::string head(64, 'x');
    in.read(head.data(), 64);
    EXPECT_EQ(head, std::string(64, '\0'));  // nothing was written near the start
    in.seekg(start);
    std::string tail(20 + 2 + 16, 'x');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    ASSERT_TRUE(in) << "the file ends before its matrix";
    EXPECT_EQ(tail, header(10, 2, 2, 0, 2) + with_nul("r") + bytes_of<float>({1.5f, -2.0f}) +
                        bytes_of<float>({1.5f, -2.0f}));
    in.close();
    std::filesystem::remove(p);
  }
}

// The platform's cut of the file under a stream, which takes back a failed row, with 64-bit
// lengths: a file made large by moving past its end (sparse on the test machines) is cut just
// above 4 GiB, where a 32-bit length would cut it to a few bytes, and then to a few bytes.
TEST_F(AmatTest, FileCutTakesLengthsBeyondFourGiB) {
  constexpr int64_t FourGiB = int64_t{1} << 32;
  const std::string p = path("cut.mat");
  FILE* fp = std::fopen(p.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  ASSERT_EQ(fseeko(fp, FourGiB + 8, SEEK_SET), 0);
  ASSERT_EQ(std::fwrite("abcdefgh", 1, 8, fp), 8u);
  ASSERT_EQ(std::fflush(fp), 0);
  for (int64_t length : {FourGiB + 12, int64_t{5}}) {
    SCOPED_TRACE(length);
    EXPECT_TRUE(file_cut(fp, length));
    ASSERT_EQ(fseeko(fp, 0, SEEK_END), 0);
    EXPECT_EQ(ftello(fp), length);
  }
  std::fclose(fp);
  EXPECT_EQ(std::filesystem::file_size(p), 5u);
  std::filesystem::remove(p);
}

// A row-wise matrix declared double is stored as float64, as its header says.
TEST_F(AmatTest, RowWiseDoubleMatrixIsStoredAsDeclared) {
  for (int32_t type : {doubleMatrix, doubleRowMatrix}) {
    open_bare(1, binTrans, path());
    ASSERT_EQ(amatPutRinit(&file, "d", 3, type), 0) << amatErrorMessage;
    float r1[] = {0.1f, 2.0f, -3.5f}, r2[] = {4.0f, 5.0f, 6.25f};
    ASSERT_EQ(amatPutRrow(&file, r1), 0);
    ASSERT_EQ(amatPutRrow(&file, r2), 0);
    ASSERT_EQ(amatPutRclose(&file), 0);
    EXPECT_EQ(written(path()),
              header(0, 3, 2, 0, 2) + with_nul("d") +
                  bytes_of<double>({double(0.1f), 2.0, -3.5, 4.0, 5.0, 6.25}));
  }
}

TEST_F(AmatTest, TextRowWiseRewritesDimensionsAfterEveryRow) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << DecimalCommaLocale << " is not installed";
  open_bare(0, binTrans, path());
  ASSERT_EQ(amatPutRinit(&file, "x", 6, realMatrix), 0) << amatErrorMessage;
  const std::string blanks(29, ' ');
  EXPECT_EQ(mat4::slurp(path()), text_file("#1\nfloat x (0,6)" + blanks + "\n"));
  float r1[] = {1.0f, 2.5f, -3.0f, 0.0f, 1e-3f, 123456.0f};
  ASSERT_EQ(amatPutRrow(&file, r1), 0) << amatErrorMessage;
  const std::string row1 =
      "  1.0000000E+00  2.5000000E+00 -3.0000000E+00  0.0000000E+00  1.0000000E-03\n"
      "      1.2345600E+05\n";
  EXPECT_EQ(mat4::slurp(path()), text_file("#1\nfloat x(1,6) " + blanks + "\n" + row1));
  ASSERT_EQ(amatPutRrow(&file, r1), 0);
  EXPECT_EQ(mat4::slurp(path()), text_file("#1\nfloat x(2,6) " + blanks + "\n" + row1 + row1));
  ASSERT_EQ(amatPutRclose(&file), 0);
  EXPECT_EQ(written(path()), text_file("#1\nfloat x(2,6) " + blanks + "\n" + row1 + row1 + "\n"));

  open_bare(0, binTrans, path());
  ASSERT_EQ(amatPutRinit(&file, "y", 1, doubleRowMatrix), 0);
  EXPECT_EQ(written(path()), text_file("#1\ndouble y (0,1)" + blanks + "\n"));
}

// Whole matrices in the text format, in a process locale with a decimal comma.
TEST_F(AmatTest, TextWriterFormats) {
  ScopedLocale de(DecimalCommaLocale);
  ASSERT_TRUE(de.ok()) << DecimalCommaLocale << " is not installed";
  int32_t small[] = {5, -120, 7};
  int32_t nine[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  int32_t ten[] = {10, 3};  // 10 takes two digits, as 11 to 99 do
  int32_t info[] = {0, 1, 1, 2, 0, 0, -1, -1};  // 2 x 4, column-major
  const char* infoNames[] = {"Time", "x"};
  float reals[] = {1.0f, 2.5f, -100000.0f, 100001.0f, 0.1f, 7.0f};
  double cols[] = {1, 2, 3, 1, 2.5, 1e8};  // 3 x 2: integral column, mixed column
  double wide[] = {0.5, 1.5, 2.5, 3.5};     // 1 x 4: a line break after 3 values
  double r0[] = {1, 0.5}, r1[] = {-22, 8};
  double* drows[] = {r0, r1};
  const char* strings[] = {"ab", nullptr, "abcd"};
  struct Case {
    const char* name;
    int32_t nrow, ncol, type;
    void* data;
    const char* comment;
    const char* const* rowComments;
    int indent;
    std::string expected;
  } cases[] = {
      {"i", 1, 3, integerMatrix, small, nullptr, nullptr, 0, "int i(1,3)\n    5 -120    7\n\n"},
      {"k", 1, 9, integerMatrix, nine, "", nullptr, 0, "int k(1,9)\n 1 2 3 4 5 6 7\n     8 9\n\n"},
      {"t", 1, 2, integerMatrix, ten, nullptr, nullptr, 0, "int t(1,2)\n 10  3\n\n"},
      {"dataInfo", 2, 4, integerMatrix, info, "# head", infoNames, 4,
       "# head\nint dataInfo(2,4)\n  0  1  0 -1   # Time\n  1  2  0 -1   # x\n\n"},
      {"dataInfo", 2, 4, integerMatrix, info, nullptr, infoNames, 0,
       "int dataInfo(2,4)\n  0  1  0 -1Time\n  1  2  0 -1x\n\n"},
      {"r", 1, 6, realMatrix, reals, nullptr, nullptr, 0,
       "float r(1,6)\n"
       "       1         2.5000000E+00 -100000         1.0000100E+05  1.0000000E-01\n"
       "           7       \n\n"},
      {"d", 3, 2, doubleMatrix, cols, nullptr, nullptr, 0,
       "double d(3,2)\n"
       "  1       1                \n"
       "  2   2.500000000000000E+00\n"
       "  3   1.000000000000000E+08\n\n"},
      {"w", 1, 4, doubleMatrix, wide, nullptr, infoNames, 2,
       "double w(1,4)\n"
       "   5.000000000000000E-01   1.500000000000000E+00   2.500000000000000E+00\n"
       "   3.500000000000000E+00 # Time\n\n"},
      {"dr", 2, 2, doubleRowMatrix, drows, "c", nullptr, 0,
       "c\ndouble dr(2,2)\n   1   5.000000000000000E-01\n -22       8                \n\n"},
      {"s", 3, 5, charMatrix, strings, "note", infoNames, 4, "note\nchar s(3,5)\nab\n\nabcd\n\n"},
      {"s", 3, 0, charMatrix, strings, nullptr, nullptr, 0, "char s(3,4)\nab\n\nabcd\n\n"},
      {"z", 0, 7, charMatrix, nullptr, nullptr, nullptr, 0, "char z(0,0)\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open_bare(0, binNormal, path());
    AmatMatrix m;
    amatSet(const_cast<char*>(c.name), c.nrow, c.ncol, c.type, c.data, &m);
    ASSERT_EQ(amatPutMatrixEx(&file, &m, c.comment, c.rowComments, c.indent, '*'), 0)
        << amatErrorMessage;
    EXPECT_EQ(written(path()), text_file("#1\n" + c.expected));
  }
}

// Every failure returns 1 with its one message; a success leaves the message as it was.
TEST_F(AmatTest, FailureMessages) {
  const std::string p = path();
  const std::string missing = dir.file("no/such.mat");
  const std::string big(2000, 'A');
  struct Case {
    const char* what;
    std::function<int(AmatFile&)> run;
    std::string message;
    bool leavesOpen;
    bool onFullDevice = false;  // writes to /dev/full, which only POSIX systems have
  } cases[] = {
      {"void type",
       [&](AmatFile& f) {
         open_bare(1, binNormal, p);
         AmatMatrix m;
         amatSet(const_cast<char*>("v"), 2, 3, voidMatrix, nullptr, &m);
         return amatPutMatrix(&f, &m);
       },
       "Error when writing matrix \"v(2,3)\" to file \"" + p +
           "\":\nThe datatype of the matrix is not specified (matrix.type = voidMatrix).\n",
       true},
      {"unknown type",
       [&](AmatFile& f) {
         open_bare(0, binNormal, p);
         AmatMatrix m;
         amatSet(const_cast<char*>("t"), 1, 1, 6, nullptr, &m);
         return amatPutMatrix(&f, &m);
       },
       "Error should never occur when writing matrix \"t(1,1)\" to\nfile \"" + p +
           "\" (matrix.type = 6)\n",
       true},
      {"open",
       [&](AmatFile& f) { return amatPutOpen(missing.c_str(), 1, 1, "A", "1", nullptr, &f); },
       "Error opening file \"" + missing + "\": No such file or directory\n", false},
      {"row-wise on stdout",
       [&](AmatFile& f) {
         // Binary and without class matrix: nothing reaches the standard output.
         EXPECT_EQ(amatPutOpen(nullptr, 1, binTrans, nullptr, nullptr, nullptr, &f), 0);
         EXPECT_EQ(f.fp, stdout);
         EXPECT_EQ(f.fileName, nullptr);
         int r = amatPutRinit(&f, "data_2", 3, realMatrix);
         f = AmatFile{};  // never close the test's standard output
         return r;
       },
       "Not possible to use functions amatPutRxxx, in order to write\nmatrix \"data_2\" row-wise, "
       "because output stream is no file, but stdout.\n",
       false},
      {"row-wise type",
       [&](AmatFile& f) {
         open_bare(1, binTrans, p);
         return amatPutRinit(&f, "q", 3, integerMatrix);
       },
       "Wrong argument \"type\" (= 1) in function amatPutRinit,\nwhen initializing writing of "
       "matrix \"q\" to file \"" + p + "\".\n(type = realMatrix or doubleMatrix required).\n",
       true},
      {"row-wise layout",
       [&](AmatFile& f) {
         open_bare(1, binNormal, p);
         return amatPutRinit(&f, "q", 3, realMatrix);
       },
       "In order to write matrix \"q\" row-wise to file \"" + p +
           "\",\nthe file has to be opened with \"bstruct = binTrans\" and not\nwith \"bstruct = "
           "binNormal\" (function amatPutOpen).\n",
       true},
      {"short write",
       [&](AmatFile& f) {
         open_bare(1, binNormal, "/dev/full");
         static double values[10000];
         AmatMatrix m;
         amatSet(const_cast<char*>("big"), 1, 10000, doubleMatrix, values, &m);
         return amatPutMatrix(&f, &m);
       },
       "Error when writing matrix \"big(1,10000)\" to file \"/dev/full\":\nNo space left on device\n",
       true, true},
      {"text short write",
       [&](AmatFile& f) {
         open_bare(0, binNormal, "/dev/full");
         static double values[10000];
         AmatMatrix m;
         amatSet(const_cast<char*>("big"), 10000, 1, doubleMatrix, values, &m);
         return amatPutMatrix(&f, &m);
       },
       "Error when writing matrix \"big(10000,1)\" to file \"/dev/full\":\nNo space left on device\n",
       true, true},
      {"row-wise start not on disk",
       [&](AmatFile& f) {
         open_bare(1, binTrans, "/dev/full");
         return amatPutRinit(&f, "r", 2, realMatrix);
       },
       "Error when writing matrix \"r\" row-wise to file \"/dev/full\":\nNo space left on device\n",
       true, true},
      {"row not on disk",
       [&](AmatFile& f) {
         open_bare(1, binTrans, p);
         EXPECT_EQ(amatPutRinit(&f, "r", 2, realMatrix), 0);
         // The disk fills up under the open file.
         int full = open("/dev/full", O_WRONLY);
         EXPECT_GE(dup2(full, fileno(f.fp)), 0);
         close(full);
         float row[] = {1, 2};
         int r = amatPutRrow(&f, row);
         EXPECT_EQ(f.ncols, 0);  // the header does not count a row that is not on disk
         return r;
       },
       "Error when writing row 1 of matrix \"r\" row-wise\nto file \"" + p + "\": No space left on "
       "device\n",
       true, true},
      {"class description, message cut to the buffer",
       [&](AmatFile& f) {
         return amatPutOpen("/dev/full", 1, 1, (big + big + big).c_str(), "1", nullptr, &f);
       },
       ("Error writing class description of class \"" + big).substr(0, AmatErrorMessageSize - 1),
       false, true},
  };
  for (const Case& c : cases) {
    if (c.onFullDevice && OnWindows) continue;
    SCOPED_TRACE(c.what);
    std::snprintf(amatErrorMessage, sizeof amatErrorMessage, "before");
    EXPECT_EQ(c.run(file), 1);
    EXPECT_EQ(std::string(amatErrorMessage), c.message);
    EXPECT_EQ(file.fp != nullptr, c.leavesOpen);
    if (file.fp) {
      // A success afterwards leaves the message as it was.
      AmatMatrix m;
      amatSet(const_cast<char*>("ok"), 0, 0, realMatrix, nullptr, &m);
      if (file.rowName == nullptr && std::strcmp(file.fileName, "/dev/full") != 0) {
        EXPECT_EQ(amatPutMatrix(&file, &m), 0);
        EXPECT_EQ(std::string(amatErrorMessage), c.message);
      }
      amatPutClose(&file);
    }
    EXPECT_EQ(file.fileName, nullptr);
    EXPECT_EQ(file.rowName, nullptr);
  }
}

TEST(AmatErrorBuffer, StartsWithNoMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process image
  EXPECT_EXIT(std::_Exit(std::strcmp(amatErrorMessage, "No message.") == 0 ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

// Injected allocation failures: the message, no stream left open, nothing leaked.
TEST_F(AmatTest, AllocationFailures) {
  const std::string p = path();
  amatFailAllocationAfter = 0;
  EXPECT_EQ(amatPutOpen(p.c_str(), 1, 1, "A", "1", nullptr, &file), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Not possible to allocate enough storage in order to open\nfile \"" + p +
                "\" for writing of matrices:\nCannot allocate memory\n");
  EXPECT_EQ(file.fp, nullptr);
  EXPECT_EQ(file.fileName, nullptr);

  open_bare(1, binTrans, p);
  amatFailAllocationAfter = 0;
  EXPECT_EQ(amatPutRinit(&file, "rows", 2, realMatrix), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Not possible to allocate enough storage in order to open\nfile \"" + p +
                "\" for writing of matrix \"rows\":\nCannot allocate memory\n");
  EXPECT_EQ(file.rowName, nullptr);
  amatPutClose(&file);

  open_bare(0, binNormal, p);
  double v[] = {1.0};
  AmatMatrix m;
  amatSet(const_cast<char*>("d"), 1, 1, doubleMatrix, v, &m);
  amatFailAllocationAfter = 0;
  EXPECT_EQ(amatPutMatrix(&file, &m), 1);
  EXPECT_EQ(std::string(amatErrorMessage),
            "Error when writing matrix \"d(1,1)\" to file \"" + p + "\":\nnot enough memory\n\n");
}

TEST(AmatRecords, SetClearAndFreeOwnership) {
  AmatMatrix m;
  int32_t data[2] = {1, 2};
  amatSet(const_cast<char*>("n"), 1, 2, integerMatrix, data, &m);
  m.reserved1 = 5;
  EXPECT_EQ(amatSet(m.name, 1, 2, integerMatrix, data, &m), &m);
  EXPECT_EQ(m.reserved1, 0);
  EXPECT_EQ(m.data, data);  // stored, not copied
  EXPECT_EQ(amatClear(&m)->name, nullptr);
  EXPECT_EQ(m.type, voidMatrix);

  // amatFree releases the name and every string / row (the sanitizer build checks leaks).
  for (int32_t type : {charMatrix, doubleRowMatrix}) {
    void** entries = static_cast<void**>(std::malloc(2 * sizeof(void*)));
    entries[0] = std::malloc(8);
    entries[1] = nullptr;  // an empty entry
    amatSet(amat_strdup("owned"), 2, 1, type, entries, &m);
    amatFree(&m);
    EXPECT_EQ(m.name, nullptr);
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.nrow, 0);
  }
  amatSet(amat_strdup("plain"), 2, 1, doubleMatrix, std::malloc(16), &m);
  amatFree(&m);
  EXPECT_EQ(m.data, nullptr);
  amatFree(nullptr);
}

}  // namespace
