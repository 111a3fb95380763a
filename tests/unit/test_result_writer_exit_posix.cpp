// Result writer: its failures end the process with their message on the standard error
// stream; each case runs in a forked child.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "child_process.h"
#include "result_writer_fixture.h"

namespace {

TEST_F(ResultWriterTest, FailuresEndTheProcessWithTheirMessage) {
  struct Case {
    const char* what;
    std::function<void()> body;
    const char* message;
  } cases[] = {
      {"open of an unprepared record", [this] { open(); }, "Internal error"},
      {"open twice", [this] { prepare_and_open(); open(); }, "Internal error"},
      {"row count differs from total",
       [this] {
         result_file_prepare(&result);
         result.total -= 1;
         open();
       },
       "Internal error"},
      {"file cannot be created",
       [this] {
         std::filesystem::remove("dsres.mat");
         std::filesystem::create_directory("dsres.mat");
         prepare_and_open();
       },
       "Failed to open result dsres.mat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ChildOutcome outcome = run_in_child(c.body);
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.stderrText, c.message);
  }
}

// Every allocation of prepare and open failing in turn: the process ends with its message,
// never with a crash.
TEST_F(ResultWriterTest, EveryFailedAllocationIsFatalWithItsMessage) {
  // Count the allocations of a successful prepare and open.
  amatFailAllocationAfter = 1000;
  result_file_prepare(&result);
  const int32_t prepareAllocations = 1000 - amatFailAllocationAfter;
  amatFailAllocationAfter = 1000;
  open();
  const int32_t openAllocations = 1000 - amatFailAllocationAfter;
  amatFailAllocationAfter = -1;
  result_file_close(&result);
  result = ResultFile{};
  ASSERT_GT(prepareAllocations, 10);
  ASSERT_GT(openAllocations, 0);

  for (int32_t n = 0; n < prepareAllocations + openAllocations; ++n) {
    SCOPED_TRACE(n);
    const ChildOutcome outcome = run_in_child([&] {
      amatFailAllocationAfter = n;
      prepare_and_open();
    });
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.stderrText,
              n < prepareAllocations ? "Out of memory" : "Failed to open result dsres.mat");
  }
}

}  // namespace
