// Fixed-step mode's solver tolerance, fixed by the first solve of a process: tested in a
// forked child, whose first solve it is.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../child_process.h"
#include "runtime/linsys.h"
#include "runtime/runtime_state.h"

namespace {

// The solver's tolerance is fixed by its first call in the process: loose in fixed-step mode.
TEST(FixedStepMode, LoosensTheSolverToleranceWhenSetAtTheFirstSolve) {
  const ChildOutcome outcome = run_in_child([] {
    modelRuntime.fixedStepMode = 1;
    const int n = 1, one = 1, options = 0, flags = 0, number = 1;
    double A = 2.0, x = 1.0, t = 0.0, work[7];
    int iwork[3], state = 0, error = 0;
    if (solverTolerance != 0.0) std::_Exit(2);  // an earlier test of this process solved
    linsys_solve(&number, &options, &A, &one, &n, &x, &t, &flags, &flags, work, iwork, &state,
                 nullptr, &error);
    std::_Exit(solverTolerance == 2.220446049250313e-05 ? 0 : 1);
  });
  if (outcome.exitStatus == 2) GTEST_SKIP() << "the solver was used before in this process";
  EXPECT_EQ(outcome.exitStatus, 0);
}

}  // namespace
