// Test helper: runs a piece of code in a forked child process and collects its exit status
// and what it wrote to the standard error stream (for the paths that end the process).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

// Runs body in a child process with its standard error in a pipe; the exit status (or -1
// when the child did not exit) and everything it wrote to stderr.
struct ChildOutcome {
  int exitStatus = -1;
  std::string stderrText;
};
inline ChildOutcome run_in_child(const std::function<void()>& body) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) return outcome;
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) return outcome;
  if (pid == 0) {
    close(fds[0]);
    if (dup2(fds[1], 2) < 0) std::_Exit(90);
    close(fds[1]);
    body();
    std::_Exit(91);  // the body was expected to end the process
  }
  close(fds[1]);
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) outcome.stderrText.append(buffer, n);
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  return outcome;
}
