// Test helper: MAT files read by scipy's loadmat, a reader independent of this project (Debian's
// python3-scipy, through the interpreter TAVELO_PYTHON). One interpreter checks all the files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef TAVELO_PYTHON
#error "TAVELO_PYTHON names the interpreter that has scipy"
#endif

// A file and the shape that scipy must find for one of its matrices.
struct ScipyExpectation {
  std::string path;
  std::string matrix;
  int rows;
  int cols;
};

// Success when scipy opens every file and finds each matrix with its shape; otherwise the
// files it could not read or whose matrix differs, with what it found.
inline ::testing::AssertionResult scipy_loads(const std::vector<ScipyExpectation>& files) {
  static const char* const script =
      "import sys, scipy.io\n"
      "a = sys.argv[1:]\n"
      "for i in range(0, len(a), 4):\n"
      "    try:\n"
      "        found = scipy.io.loadmat(a[i])[a[i + 1]].shape\n"
      "    except Exception as e:\n"
      "        found = repr(e)\n"
      "    if found != (int(a[i + 2]), int(a[i + 3])):\n"
      "        print(a[i], a[i + 1], found)\n";
  auto quoted = [](const std::string& s) {
    std::string out = "'";
    for (char ch : s) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
  };
  std::string command = std::string(TAVELO_PYTHON) + " -c " + quoted(script);
  for (const ScipyExpectation& f : files)
    command += " " + quoted(f.path) + " " + quoted(f.matrix) + " " + std::to_string(f.rows) +
               " " + std::to_string(f.cols);
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return ::testing::AssertionFailure() << "cannot run " << TAVELO_PYTHON;
  std::string output;
  char buffer[256];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0 || !output.empty())
    return ::testing::AssertionFailure() << "scipy (status " << status << "):\n" << output;
  return ::testing::AssertionSuccess();
}
