// A small FMI 1.0 host for the boundary tests: loads the real library (dlopen, or LoadLibrary
// on Windows), resolves its exports, and gives a recording logger and a counting allocator.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "fmi/fmi_types.h"

// The exports of the library, each resolved by name.
struct FmiLibrary {
  void* handle = nullptr;
#define TAVELO_HOST_POINTER(name) fmi##name##TYPE* name = nullptr;
  TAVELO_FMI_FUNCTIONS(TAVELO_HOST_POINTER)
#undef TAVELO_HOST_POINTER
  // Only in the test build of the library: switches a test fault of the model body, and sets
  // bits that every pass of the model body ORs into its print flags.
  void (*testSetFault)(int fault) = nullptr;
  void (*testSetPrintFlags)(int flags) = nullptr;
};

// The shipped library (TAVELO_SO_PATH), loaded once per process. Fails the test when an
// export is missing.
const FmiLibrary& tavelo();
// The test build with the fault switch (TAVELO_FAULTS_SO_PATH): an independent copy of the
// library with its own process-wide state.
const FmiLibrary& tavelo_faults();

// One message as the recording logger received it, its message formatted with the variable
// arguments as an FMI 1.0 logger does.
struct LoggedMessage {
  fmiComponent component;
  std::string instanceName;
  fmiStatus status;
  std::string category;
  std::string text;
};

// The process-wide recording logger.
void recording_logger(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                      fmiString message, ...);
std::vector<LoggedMessage>& logged_messages();
std::vector<std::string> logged_texts();

// The counting allocator: calloc-based, counts live blocks and can be told to fail the Nth
// allocation (1-based, counted from the last reset).
struct AllocationRecord {
  size_t nobj;
  size_t size;
  void* block;  // null when it failed
};
void* counting_allocate(size_t nobj, size_t size);
void counting_free(void* block);
void reset_allocator(int failAt = 0);
size_t live_allocations();
const std::vector<AllocationRecord>& allocations();
// The blocks given back, in order (nulls included).
const std::vector<void*>& frees();

fmiCallbackFunctions host_callbacks();

// Makes a folder of this process below TAVELO_TEST_TMP (when set) the current one, so result
// files land there; created when missing.
void enter_test_directory();

// What the platform does for the host (host_platform_posix.cpp, host_platform_windows.cpp).
// Loads a library; null on failure, with the reason in error.
void* open_library(const char* path, std::string& error);
// The address of an exported name of a loaded library, or null.
void* library_symbol(void* handle, const char* name);
// Unloads a library of open_library; false on failure.
bool close_library(void* handle);
// The number of handles (descriptors) of this process open on the file at path.
int open_handles_on(const std::filesystem::path& path);
// The identifier of this process.
long process_id();

// A peek at the record behind a component (the test host is built from the same sources).
struct ModelInstance;
inline ModelInstance& record_of(fmiComponent c) { return *static_cast<ModelInstance*>(c); }

constexpr const char* TaveloGUID = "{8a4d88a0-e4db-4e8b-bfa0-f36b6a6c89b3}";

// An instance of a library that is freed whatever the test does: the library holds one
// instance per process.
class HostInstance {
 public:
  explicit HostInstance(const FmiLibrary& lib, const char* name = "pendulum",
                        fmiBoolean loggingOn = fmiFalse, const char* guid = TaveloGUID);
  HostInstance(const FmiLibrary& lib, const char* name, fmiBoolean loggingOn, const char* guid,
               fmiCallbackFunctions functions);
  ~HostInstance() { reset(); }
  HostInstance(const HostInstance&) = delete;
  HostInstance& operator=(const HostInstance&) = delete;

  fmiComponent get() const { return c_; }
  explicit operator bool() const { return c_ != nullptr; }
  void reset();

 private:
  const FmiLibrary& lib_;
  fmiComponent c_ = nullptr;
};
