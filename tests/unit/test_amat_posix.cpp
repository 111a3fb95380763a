// Matrix-file writer in forked children: on the standard output; appending rows under a
// file-size limit (a disk that fills up); and killed part-way through a long run of rows.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mat4_reader.h"
#include "results/amat.h"
#include "scipy_check.h"

namespace {

// The standard output is a valid target; closing the file closes it. Runs in a child whose
// standard output goes to a file.
TEST(AmatStandardOutput, IsWrittenAndClosed) {
  mat4::ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  const std::string out = dir.file("stdout.txt");
  std::fflush(stdout);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) std::_Exit(10);
    close(fd);
    AmatFile f{};
    if (amatPutOpen("", 0, binNormal, "Atrajectory", "1.1", nullptr, &f) != 0) std::_Exit(11);
    if (f.fp != stdout || f.fileName != nullptr || f.isFile != 0) std::_Exit(12);
    int32_t v[] = {3};
    AmatMatrix m;
    amatSet(const_cast<char*>("n"), 1, 1, integerMatrix, v, &m);
    if (amatPutMatrix(&f, &m) != 0) std::_Exit(13);
    amatPutClose(&f);
    bool closed = fcntl(1, F_GETFD) == -1 && errno == EBADF;
    std::_Exit(closed && f.fp == nullptr ? 0 : 14);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(mat4::slurp(out), "#1\nchar Aclass(3,11)\nAtrajectory\n1.1\n \n\nint n(1,1)\n 3\n\n");
}

// Row-wise files of the tests below: "Aclass", a small "data_1", then "data_2" growing by rows.
struct RowFile {
  int32_t format;     // 1 binary, 0 text
  int32_t rowLength;  // floats per row
};

// The row of append attempt a: values no other attempt has, so that a byte of a failed
// attempt that reached the file would show.
std::vector<float> attempt_row(int a, int32_t length) {
  std::vector<float> row(static_cast<size_t>(length));
  for (int32_t k = 0; k < length; ++k) row[k] = static_cast<float>(a * 100000 + k) / 8.0f + 0.1f;
  return row;
}

bool start_rows(AmatFile& f, const std::string& p, const RowFile& layout) {
  static float before[] = {1.5f, -2.0f};
  AmatMatrix m;
  amatSet(const_cast<char*>("data_1"), 1, 2, realMatrix, before, &m);
  return amatPutOpen(p.c_str(), layout.format, binTrans, "Atrajectory", "1.1", nullptr, &f) == 0 &&
         amatPutMatrix(&f, &m) == 0 &&
         amatPutRinit(&f, "data_2", layout.rowLength, realMatrix) == 0;
}

// The bytes a run without failures leaves after appending the rows of the given attempts:
// as the file stands after the last row, or closed. sizes, when given, receives the file's
// size before the first row and after each.
std::string clean_file(const std::string& p, const RowFile& layout,
                       const std::vector<int>& attempts, bool close,
                       std::vector<size_t>* sizes = nullptr) {
  AmatFile f{};
  if (!start_rows(f, p, layout)) return "cannot write " + p;
  auto size = [&] { return mat4::slurp(p).size(); };
  if (sizes) sizes->assign(1, size());
  for (int a : attempts) {
    if (amatPutRrow(&f, attempt_row(a, layout.rowLength).data()) != 0) return "append failed";
    if (sizes) sizes->push_back(size());
  }
  const std::string open = mat4::slurp(p);
  if (close) amatPutRclose(&f);
  amatPutClose(&f);
  return close ? mat4::slurp(p) : open;
}

std::vector<int> attempts_from(int first, int count) {
  std::vector<int> out;
  for (int a = first; a < first + count; ++a) out.push_back(a);
  return out;
}

// Equal files, or where they first differ.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "the file has " << actual.size() << " bytes, expected "
                                       << expected.size() << "; first difference at " << at;
}

// A file-size limit for this process (SIGXFSZ ignored, so a write past it fails with EFBIG);
// RLIM_INFINITY lifts it again.
bool limit_file_size(rlim_t limit) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit r{};
  if (getrlimit(RLIMIT_FSIZE, &r) != 0) return false;
  r.rlim_cur = limit;
  return setrlimit(RLIMIT_FSIZE, &r) == 0;
}

// A disk that fills up: in a child with a file-size limit just below, at and just above the end
// of a row, rows are appended until one fails, and once more. The failed row is taken back,
// whether its write or its flush failed (rows smaller and larger than the stream's buffer):
// the file holds exactly the whole rows before it, with their count, in both formats. Then the
// limit is lifted and more rows follow; no byte of the failed attempts may reach the file.
TEST(AmatFullDisk, FailedRowIsTakenBackAndLaterRowsFollowTheLastWholeOne) {
  mat4::ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  constexpr int AfterLifting = 3;  // rows appended once the limit is lifted
  std::vector<ScipyExpectation> binaries;
  int n = 0;
  for (const RowFile layout : {RowFile{1, 108}, RowFile{1, 1500}, RowFile{0, 108},
                               RowFile{0, 1500}}) {
    std::vector<size_t> sizes;
    clean_file(dir.file("sizes"), layout, attempts_from(0, 3), false, &sizes);
    ASSERT_EQ(sizes.size(), 4u);
    struct Limit {
      size_t bytes;
      int rowsThatFit;
    } limits[] = {
        {sizes[0], 0},      // no row fits after the header
        {sizes[3] - 1, 2},  // the third row but its last byte
        {sizes[3], 3},      // exactly three rows
        {sizes[3] + 1, 3},  // one byte of the fourth row
    };
    for (const Limit& limit : limits) {
      SCOPED_TRACE("format " + std::to_string(layout.format) + ", " +
                   std::to_string(layout.rowLength) + " floats a row, limit " +
                   std::to_string(limit.bytes));
      const std::string p = dir.file("limited" + std::to_string(n++) + ".mat");
      const std::string atLimit = p + ".at-limit";
      const int fit = limit.rowsThatFit;
      const std::string message = "Error when writing row " + std::to_string(fit + 1) +
                                  " of matrix \"data_2\" row-wise\nto file \"" + p +
                                  "\": File too large\n";
      std::fflush(stdout);
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        if (!limit_file_size(limit.bytes)) std::_Exit(10);
        AmatFile f{};
        if (!start_rows(f, p, layout)) std::_Exit(11);
        int a = 0;
        for (; a < fit; ++a)
          if (amatPutRrow(&f, attempt_row(a, layout.rowLength).data()) != 0) std::_Exit(12);
        for (int retry = 0; retry < 2; ++retry, ++a) {
          if (amatPutRrow(&f, attempt_row(a, layout.rowLength).data()) != 1) std::_Exit(13);
          if (amatErrorMessage != message) std::_Exit(14);
        }
        // The file as the failures left it (no larger than the limit, so it can be copied).
        if (!(std::ofstream(atLimit, std::ios::binary) << mat4::slurp(p))) std::_Exit(15);
        if (!limit_file_size(RLIM_INFINITY)) std::_Exit(16);
        for (int k = 0; k < AfterLifting; ++k, ++a)
          if (amatPutRrow(&f, attempt_row(a, layout.rowLength).data()) != 0) std::_Exit(17);
        if (amatPutRclose(&f) != 0) std::_Exit(18);
        amatPutClose(&f);
        std::_Exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      ASSERT_EQ(WEXITSTATUS(status), 0);

      const std::string limited = mat4::slurp(atLimit);
      EXPECT_EQ(limited.size(), sizes[fit]);
      EXPECT_TRUE(same_bytes(limited, clean_file(dir.file("clean"), layout,
                                                 attempts_from(0, fit), false)));
      std::vector<int> kept = attempts_from(0, fit);
      for (int a : attempts_from(fit + 2, AfterLifting)) kept.push_back(a);
      EXPECT_TRUE(same_bytes(mat4::slurp(p), clean_file(dir.file("clean"), layout, kept, true)));
      if (layout.format == 1) {
        const mat4::File f = mat4::parse(limited);
        ASSERT_TRUE(f.ok) << f.error;
        ASSERT_EQ(f.names(), (std::vector<std::string>{"Aclass", "data_1", "data_2"}));
        EXPECT_EQ(f.find("data_2")->ncols, fit);
        binaries.push_back({atLimit, "data_2", layout.rowLength, fit});
        binaries.push_back({p, "data_2", layout.rowLength, fit + AfterLifting});
      }
    }
  }
  EXPECT_TRUE(scipy_loads(binaries));
}

// A host killed at a random point of a long run of rows: the file holds every row its header
// counts. A kill inside an append, after the row's write and before the header's rewrite,
// leaves that row's bytes (or, killed inside the write, the first of them) uncounted at the end,
// where the reader reports them; a kill between appends leaves a file scipy reads as it is.
TEST(AmatKilledAppends, FileHoldsEveryRowItsHeaderCounts) {
  mat4::ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  constexpr RowFile layout{1, 108};
  constexpr size_t RowBytes = 108 * sizeof(float);
  constexpr int RowsBeforePause = 20000;  // the child then waits to be killed
  std::vector<size_t> sizes;
  clean_file(dir.file("sizes"), layout, {}, false, &sizes);
  const size_t bytesBeforeRows = sizes[0];

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::vector<ScipyExpectation> complete;
  for (int run = 0; run < 5; ++run) {
    const int rows = std::uniform_int_distribution<int>(1, 5000)(random);
    const std::chrono::microseconds delay(std::uniform_int_distribution<int>(0, 300)(random));
    SCOPED_TRACE("killed after " + std::to_string(rows) + " rows and " +
                 std::to_string(delay.count()) + " us");
    const std::string p = dir.file("killed" + std::to_string(run) + ".mat");
    std::fflush(stdout);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      AmatFile f{};
      if (!start_rows(f, p, layout)) std::_Exit(11);
      for (int a = 0; a < RowsBeforePause; ++a)
        if (amatPutRrow(&f, attempt_row(a, layout.rowLength).data()) != 0) std::_Exit(12);
      for (;;) pause();
    }
    // Kill once the file holds the rows (the header may not count the last yet), a little later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    struct stat st{};
    int status = 0;
    bool ended = false;
    while (!(stat(p.c_str(), &st) == 0 &&
             static_cast<size_t>(st.st_size) >= bytesBeforeRows + rows * RowBytes) &&
           std::chrono::steady_clock::now() < deadline && !ended)
      ended = waitpid(pid, &status, WNOHANG) == pid;
    for (auto until = std::chrono::steady_clock::now() + delay;
         std::chrono::steady_clock::now() < until;) {
    }
    if (!ended) {
      kill(pid, SIGKILL);
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const std::string bytes = mat4::slurp(p);
    const mat4::File f = mat4::parse(bytes, "data_2");
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(f.names(), (std::vector<std::string>{"Aclass", "data_1", "data_2"}));
    const mat4::Matrix& data2 = *f.find("data_2");
    ASSERT_GE(data2.ncols, rows - 1);
    ASSERT_LE(f.trailingBytes, RowBytes);
    ASSERT_EQ(bytes.size(), bytesBeforeRows + data2.ncols * RowBytes + f.trailingBytes);
    for (int32_t j = 0; j <= data2.ncols; ++j) {
      // Row ncols is the uncounted one; its bytes, as far as they reached the file.
      const std::vector<float> expected = attempt_row(j, layout.rowLength);
      const size_t at = bytesBeforeRows + j * RowBytes;
      const size_t length = j < data2.ncols ? RowBytes : f.trailingBytes;
      ASSERT_EQ(std::memcmp(bytes.data() + at, expected.data(), length), 0) << "row " << j;
    }
    if (f.trailingBytes == 0) complete.push_back({p, "data_2", layout.rowLength, data2.ncols});
  }
  EXPECT_TRUE(scipy_loads(complete));
}

}  // namespace
