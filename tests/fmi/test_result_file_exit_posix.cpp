// A result file that cannot be created ends the host process with the writer's message on the
// standard error stream; the initialisation runs in a forked child.
#include <filesystem>

#include "child_process.h"
#include "fmi_fixture.h"

namespace {

using ResultFileExit = FmiTestInScratch;

TEST_F(ResultFileExit, UnwritableResultFileEndsTheProcess) {
  create();
  std::filesystem::create_directory("dsres.mat");
  const ChildOutcome outcome = run_in_child([this] { initialize(); });
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.stderrText, "Failed to open result dsres.mat");
  std::filesystem::remove("dsres.mat");
}

}  // namespace
