// The child of the unload test: loads the library, uses it and unloads it, three times; then
// loads and uses it once more and leaves it loaded, so that its unload entry runs at process
// exit as well. A use: instantiate, initialise, a few steps of 1 ms with the completed-step call
// (result rows), terminate, free; then an instance whose initialisation meets a model error,
// which the library throws and catches inside: exceptions still work in a library loaded anew.
//
//   tavelo_unload_cycles LIBRARY [leak]
//
// On Linux it runs under valgrind, which reports any block not given back. With "leak" the
// program drops a block of the size of the C++ runtime's emergency exception pool (72,704
// bytes), to show that a leak of that size fails the test. On Windows, where there is no
// valgrind, the program itself holds the growth of the C runtime's heap per cycle down.
//
// Exit status 0 when every call answered as expected (and, on Windows, the heap kept).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fmi/test_host.h"
#include "logged_text.h"

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace {

constexpr int UnloadedCycles = 3;
constexpr int Steps = 5;
constexpr double StepSize = 1e-3;
// arm.angles_start[3]: NaN makes the start orientation's quaternion fail (a model error).
constexpr fmiValueReference ArmLastStartAngle = 0x01000000u + 26;

struct Logged {
  fmiStatus status = fmiOK;
  std::string text;
};
Logged lastMessage;

void keeping_logger(fmiComponent, fmiString, fmiStatus status, fmiString, fmiString message,
                    ...) {
  va_list args;
  va_start(args, message);
  lastMessage = {status, logged_text(message, args)};
  va_end(args);
}

// The first failure of a cycle, or the empty string.
std::string failure;
bool expect(bool ok, const std::string& what) {
  if (!ok && failure.empty()) failure = what;
  return ok;
}

bool resolve(void* handle, FmiLibrary& lib) {
#define TAVELO_UNLOAD_RESOLVE(name)                                                              \
  lib.name = reinterpret_cast<fmi##name##TYPE*>(library_symbol(handle, "Tavelo_fmi" #name)); \
  if (!expect(lib.name != nullptr, "missing export Tavelo_fmi" #name)) return false;
  TAVELO_FMI_FUNCTIONS(TAVELO_UNLOAD_RESOLVE)
#undef TAVELO_UNLOAD_RESOLVE
  return true;
}

// Instantiate, initialise, a few explicit Euler steps, terminate, free.
void simulate(const FmiLibrary& lib) {
  const fmiCallbackFunctions callbacks{keeping_logger, std::calloc, std::free};
  fmiComponent c = lib.InstantiateModel("pendulum", TaveloGUID, callbacks, fmiFalse);
  if (!expect(c != nullptr, "fmiInstantiateModel returned null")) return;
  fmiEventInfo info{};
  double x[4] = {}, dx[4] = {};
  fmiBoolean callEventUpdate = fmiFalse;
  bool ok = expect(lib.Initialize(c, fmiFalse, 1e-6, &info) == fmiOK, "fmiInitialize") &&
            expect(lib.GetContinuousStates(c, x, 4) == fmiOK, "fmiGetContinuousStates");
  for (int k = 1; ok && k <= Steps; ++k) {
    ok = expect(lib.GetDerivatives(c, dx, 4) == fmiOK, "fmiGetDerivatives");
    for (int i = 0; i < 4; ++i) x[i] += StepSize * dx[i];
    ok = ok && expect(lib.SetTime(c, k * StepSize) == fmiOK, "fmiSetTime") &&
         expect(lib.SetContinuousStates(c, x, 4) == fmiOK, "fmiSetContinuousStates") &&
         expect(lib.CompletedIntegratorStep(c, &callEventUpdate) == fmiOK,
                "fmiCompletedIntegratorStep");
  }
  // The pendulum has started to fall: the friction solve ran in every step.
  ok = ok && expect(dx[3] > 6.0, "no pendulum acceleration");
  ok = ok && expect(lib.Terminate(c) == fmiOK, "fmiTerminate");
  lib.FreeModelInstance(c);
}

// A model error inside the initialisation: the library's error path throws and catches.
void fail_initialization(const FmiLibrary& lib) {
  const fmiCallbackFunctions callbacks{keeping_logger, std::calloc, std::free};
  fmiComponent c = lib.InstantiateModel("pendulum", TaveloGUID, callbacks, fmiFalse);
  if (!expect(c != nullptr, "fmiInstantiateModel returned null")) return;
  const double nan = std::strtod("nan", nullptr);
  fmiEventInfo info{};
  lastMessage = {};
  if (expect(lib.SetReal(c, &ArmLastStartAngle, 1, &nan) == fmiOK, "fmiSetReal")) {
    expect(lib.Initialize(c, fmiFalse, 1e-6, &info) == fmiError,
           "fmiInitialize with a NaN start angle did not fail");
    expect(lastMessage.status == fmiError &&
               lastMessage.text == "fmiInitialize: dsblock_ failed, QiErr = 1\n",
           "fmiInitialize did not report the model error: " + lastMessage.text);
  }
  lib.FreeModelInstance(c);
}

// Loads the library, uses it and, unless it is to stay loaded, unloads it.
bool cycle(const char* path, int number, bool unload) {
  std::string error;
  void* handle = open_library(path, error);
  if (!expect(handle != nullptr, "loading " + std::string(path) + ": " + error)) return false;
  FmiLibrary lib;
  if (resolve(handle, lib)) {
    simulate(lib);
    fail_initialization(lib);
  }
  if (unload) expect(close_library(handle), "unloading the library failed");
  if (!failure.empty()) std::fprintf(stderr, "cycle %d: %s\n", number, failure.c_str());
  return failure.empty();
}

#if defined(_WIN32)
// Bytes in use on the C runtime's heap, or -1 when it cannot be walked.
long long heap_in_use() {
  _HEAPINFO info{};
  long long used = 0;
  int status;
  while ((status = _heapwalk(&info)) == _HEAPOK)
    if (info._useflag == _USEDENTRY) used += static_cast<long long>(info._size);
  return status == _HEAPEND ? used : -1;
}

// The heap's growth per cycle after the first (which leaves the C runtime's own first-use
// blocks). The emergency exception pool is 18,944 bytes on 32-bit Windows and the "C" locale
// object some 800 under wine; the statically linked thread library and the GCC runtime's
// emulated thread-local storage keep about 700 bytes per load and first exception (1,400 on
// 64-bit), which nothing can give back. The bound lies between.
constexpr long long MaxGrowthPerCycle = 256 * static_cast<long long>(sizeof(void*));

bool heap_kept(long long afterFirst, long long afterLast) {
  if (afterFirst < 0 || afterLast < 0) {
    std::fprintf(stderr, "the C runtime's heap cannot be walked\n");
    return false;
  }
  const long long growth = (afterLast - afterFirst) / (UnloadedCycles - 1);
  std::printf("the C runtime's heap grew by %lld bytes per cycle (at most %lld)\n", growth,
              MaxGrowthPerCycle);
  return growth <= MaxGrowthPerCycle;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "leak") != 0)) {
    std::fprintf(stderr, "usage: tavelo_unload_cycles LIBRARY [leak]\n");
    return 2;
  }
  [[maybe_unused]] long long heapAfterFirst = 0;
  for (int k = 1; k <= UnloadedCycles; ++k) {
    if (!cycle(argv[1], k, true)) return 1;
#if defined(_WIN32)
    if (k == 1) heapAfterFirst = heap_in_use();
#endif
  }
#if defined(_WIN32)
  if (!heap_kept(heapAfterFirst, heap_in_use())) return 1;
#endif
  if (!cycle(argv[1], UnloadedCycles + 1, false)) return 1;
  if (argc == 3) {
    // Kept in a volatile pointer that is then cleared, so no reference to it remains.
    void* volatile block = std::malloc(72704);
    std::memset(block, 1, 72704);
    block = nullptr;
  }
  std::printf("%d load, use and unload cycles, one more left to process exit: all calls as "
              "expected\n", UnloadedCycles);
  return 0;
}
