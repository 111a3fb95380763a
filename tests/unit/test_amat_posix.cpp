// Matrix-file writer on the standard output, in a forked child whose standard output is a file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mat4_reader.h"
#include "results/amat.h"

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

}  // namespace
