// A host that has loaded another LAPACK into its global scope before the model library: the
// library must keep using its own, hidden copy and its own silent xerbla_, whose counterpart in
// the reference LAPACK prints a line and stops the process. The run happens in a fresh process
// (a death test in the threadsafe style re-executes the test binary), so the host LAPACK is in
// place before Tavelo.so is loaded, and a stop of the process, whatever its exit code, differs
// from the one exit code the child gives after a complete run.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_host.h"

namespace {

constexpr const char* HostLapack = "/usr/lib/x86_64-linux-gnu/liblapack.so.3";
constexpr int RunCompleted = 42;

// The first thing that went wrong, or the empty string.
std::string run_with_host_lapack() {
  // RTLD_GLOBAL: the host's LAPACK and BLAS, and their xerbla_, are offered to every object
  // loaded later.
  void* lapack = dlopen(HostLapack, RTLD_NOW | RTLD_GLOBAL);
  if (lapack == nullptr) return std::string("dlopen ") + HostLapack + ": " + dlerror();
  if (dlsym(RTLD_DEFAULT, "xerbla_") == nullptr || dlsym(RTLD_DEFAULT, "dgetrf_") == nullptr)
    return "the host LAPACK does not offer xerbla_ and dgetrf_ globally";

  const FmiLibrary& lib = tavelo();
  if (lib.handle == nullptr || lib.Terminate == nullptr) return "Tavelo.so not loaded";
  // Neither the library nor anything it depends on provides a LAPACK, BLAS or xerbla_ name:
  // its calls cannot bind to the host's copies.
  for (const char* name : {"xerbla_", "dgetrf_", "dgecon_", "dgeequ_", "dtrsm_", "dgemv_",
                           "daxpy_", "dcopy_"}) {
    if (dlsym(lib.handle, name) != nullptr) return std::string("Tavelo.so resolves ") + name;
  }

  fmiComponent c = lib.InstantiateModel("pendulum", TaveloGUID, host_callbacks(), fmiFalse);
  if (c == nullptr) return "fmiInstantiateModel returned null";
  std::string failure;
  fmiEventInfo info{};
  double x[4] = {}, dx[4] = {}, used[4] = {};
  if (lib.Initialize(c, fmiFalse, 1e-6, &info) != fmiOK) {
    failure = "fmiInitialize failed";
  } else if (lib.GetContinuousStates(c, x, 4) != fmiOK) {
    failure = "fmiGetContinuousStates failed";
  } else {
    // A few explicit Euler steps, each solving the friction system again.
    for (int k = 1; k <= 20 && failure.empty(); ++k) {
      if (lib.GetDerivatives(c, dx, 4) != fmiOK) {
        failure = "fmiGetDerivatives failed at step " + std::to_string(k);
        break;
      }
      for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(dx[i])) failure = "derivative " + std::to_string(i) + " not finite";
        used[i] = x[i];
        x[i] += 1e-3 * dx[i];
      }
      if (lib.SetTime(c, k * 1e-3) != fmiOK || lib.SetContinuousStates(c, x, 4) != fmiOK)
        failure = "setting time and states failed";
    }
    // The angle derivatives are the angular velocities; the friction solve gives the falling
    // pendulum its acceleration while the arm is held.
    if (failure.empty() && (dx[0] != used[1] || dx[2] != used[3]))
      failure = "derivatives do not follow the states";
    if (failure.empty() && !(dx[3] > 6.0 && dx[1] == 0.0))
      failure = "no pendulum acceleration from the friction solve";
    if (failure.empty() && lib.Terminate(c) != fmiOK) failure = "fmiTerminate failed";
  }
  lib.FreeModelInstance(c);
  if (failure.empty() && live_allocations() != 0) failure = "blocks not given back";
  return failure;
}

TEST(ForeignLapack, HostLapackLoadedGloballyDoesNotReplaceTheLibrarys) {
  enter_test_directory();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string failure = run_with_host_lapack();
        if (!failure.empty()) {
          std::fprintf(stderr, "%s\n", failure.c_str());
          std::fflush(stderr);
          std::exit(1);
        }
        std::exit(RunCompleted);
      },
      testing::ExitedWithCode(RunCompleted), "");
}

}  // namespace
