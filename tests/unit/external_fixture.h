// Test fixture for the external functions: empty array buffers and a recording logger (from
// the array runtime's fixture), a scratch directory for files, no directory-search faults and
// an empty line cache before and after every test.
#pragma once

#include <fstream>
#include <string>

#include "array_runtime_fixture.h"
#include "external/dir_search.h"
#include "external/line_and_env.h"
#include "mat4_reader.h"
#include "test_platform.h"

class ExternalTest : public ArrayRuntimeTest {
 protected:
  void SetUp() override {
    ArrayRuntimeTest::SetUp();
    ASSERT_TRUE(scratch.ok());
    dirSearchFaults = DirSearchFaults{};
    cache_open_file(nullptr, nullptr, 0);
  }
  void TearDown() override {
    dirSearchFaults = DirSearchFaults{};
    cache_open_file(nullptr, nullptr, 0);
    ArrayRuntimeTest::TearDown();
  }

  // Writes content to name in the scratch directory (replacing it) as the platform writes a
  // text file (line ends CR LF on Windows), and returns its path.
  std::string write_file(const std::string& name, const std::string& content) {
    const std::string path = scratch.file(name);
    std::ofstream(path, std::ios::trunc) << content;
    return path;
  }

  // The log of a model error raised with message, at the fixture's time 0.5.
  static Lines error_log(const std::string& message) {
    return {"The following error was detected at time: 0.5\n", message + "\n"};
  }

  // Files the process holds open: a stream left open shows as one more.
  static int open_descriptors() { return open_file_count(); }

  mat4::ScratchDirectory scratch;
};
