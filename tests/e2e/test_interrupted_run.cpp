// A tavelo-sim run killed part-way leaves a "dsres.mat" that holds every row its header
// counts; the reader skips (and reports) the bytes of an append the kill cut short.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unit/mat4_reader.h"

namespace {

constexpr size_t BytesBeforeRows = 513942;
constexpr size_t BytesPerRow = 432;
constexpr int32_t PendulumPhiColumn = 85;  // pendulumJoint.phi in data_2

off_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// Starts tavelo-sim in dir on a run far longer than the test waits for.
pid_t start_long_run(const std::string& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) std::_Exit(90);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(TAVELO_SIM_PATH, "tavelo-sim", "--quiet", "--stop", "100000", TAVELO_FMU_PATH,
          static_cast<char*>(nullptr));
    std::_Exit(91);
  }
  return pid;
}

// Kills the run once the file holds at least rows rows (or after a generous time).
void kill_after_rows(pid_t pid, const std::string& file, size_t rows) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (static_cast<size_t>(file_size(file)) < BytesBeforeRows + rows * BytesPerRow &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
}

TEST(InterruptedRun, KilledPartWayLeavesEveryRowItsHeaderCounts) {
  mat4::ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  const std::string file = dir.file("dsres.mat");
  kill_after_rows(start_long_run(dir.file("")), file, 300);

  const mat4::File f = mat4::read(file, "data_2");
  ASSERT_TRUE(f.ok) << f.error;
  const mat4::Matrix* data2 = f.find("data_2");
  ASSERT_NE(data2, nullptr);
  ASSERT_GE(data2->ncols, 300);
  EXPECT_EQ(static_cast<size_t>(file_size(file)),
            BytesBeforeRows + data2->ncols * BytesPerRow + f.trailingBytes);
  EXPECT_LE(f.trailingBytes, BytesPerRow) << "more than one row past the header's count";
  // Every counted row is a whole row of the run: its time on the millisecond grid (within the
  // 1e-7 s the library allows and a float's rounding), later than the row before.
  for (int32_t row = 0; row < data2->ncols; ++row) {
    const double t = data2->number(0, row);
    ASSERT_LT(std::fabs(t - std::round(t * 1000.0) / 1000.0), 1e-7 + 0x1p-24 * t)
        << "row " << row;
    if (row > 0) {
      ASSERT_GT(t, data2->number(0, row - 1)) << "row " << row;
    }
  }
  EXPECT_EQ(data2->number(PendulumPhiColumn, 0), static_cast<float>(0.5235987755983));

  // Between appends, as a kill nearly always falls, the file is a complete MAT file that an
  // independent reader takes as it is.
  if (f.trailingBytes == 0) {
    const std::string command = std::string(TAVELO_PYTHON) +
                                " -c \"import sys, scipy.io; m = scipy.io.loadmat(sys.argv[1]); "
                                "sys.exit(0 if m['data_2'].shape == (108, " +
                                std::to_string(data2->ncols) + ") else 1)\" " + file;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
}

// The reader's part: a row cut short after the last counted one is reported, not read.
TEST(InterruptedRun, ReaderReportsBytesOfAnAppendCutShort) {
  mat4::ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  const std::string file = dir.file("dsres.mat");
  kill_after_rows(start_long_run(dir.file("")), file, 2);
  std::string bytes = mat4::slurp(file);
  const mat4::File whole = mat4::parse(bytes, "data_2");
  ASSERT_TRUE(whole.ok) << whole.error;
  const int32_t rows = whole.find("data_2")->ncols;
  bytes.resize(bytes.size() - whole.trailingBytes);
  for (size_t cut : {size_t{1}, size_t{20}, BytesPerRow - 1, BytesPerRow}) {
    const mat4::File f = mat4::parse(bytes + std::string(cut, '\x7f'), "data_2");
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.trailingBytes, cut);
    EXPECT_EQ(f.find("data_2")->ncols, rows);
  }
  // Without knowing which matrix grows, the extra bytes are a broken file; so are more bytes
  // than one row, which no single append leaves.
  EXPECT_FALSE(mat4::parse(bytes + std::string(BytesPerRow, '\x7f')).ok);
  EXPECT_FALSE(mat4::parse(bytes + std::string(BytesPerRow + 1, '\x7f'), "data_2").ok);
  // Nor are stray bytes before the growing matrix skipped.
  std::string stray = bytes;
  stray.insert(whole.find("data_2")->offset, 1, '\0');
  EXPECT_FALSE(mat4::parse(stray, "data_2").ok);
}

}  // namespace
