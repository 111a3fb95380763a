#include "test_host.h"

#include "logged_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

FmiLibrary load_library(const char* path, bool withFaults) {
  FmiLibrary lib;
  std::string error;
  lib.handle = open_library(path, error);
  if (lib.handle == nullptr) {
    ADD_FAILURE() << "loading " << path << ": " << error;
    return lib;
  }
#define TAVELO_HOST_RESOLVE(name)                                                                \
  lib.name = reinterpret_cast<fmi##name##TYPE*>(library_symbol(lib.handle, "Tavelo_fmi" #name)); \
  if (lib.name == nullptr) ADD_FAILURE() << "missing export Tavelo_fmi" #name;
  TAVELO_FMI_FUNCTIONS(TAVELO_HOST_RESOLVE)
#undef TAVELO_HOST_RESOLVE
  if (withFaults) {
    lib.testSetFault =
        reinterpret_cast<void (*)(int)>(library_symbol(lib.handle, "Tavelo_testSetFault"));
    if (lib.testSetFault == nullptr) ADD_FAILURE() << "missing Tavelo_testSetFault";
    lib.testSetPrintFlags =
        reinterpret_cast<void (*)(int)>(library_symbol(lib.handle, "Tavelo_testSetPrintFlags"));
    if (lib.testSetPrintFlags == nullptr) ADD_FAILURE() << "missing Tavelo_testSetPrintFlags";
  }
  return lib;
}

std::vector<AllocationRecord> allocationLog;
std::vector<void*> freeLog;
std::vector<void*> liveBlocks;
int failAllocationAt = 0;

}  // namespace

const FmiLibrary& tavelo() {
  static const FmiLibrary lib = load_library(TAVELO_SO_PATH, false);
  return lib;
}

const FmiLibrary& tavelo_faults() {
  static const FmiLibrary lib = load_library(TAVELO_FAULTS_SO_PATH, true);
  return lib;
}

void recording_logger(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                      fmiString message, ...) {
  va_list args;
  va_start(args, message);
  std::string text = logged_text(message, args);
  va_end(args);
  logged_messages().push_back({c, instanceName ? instanceName : "(null)", status,
                               category ? category : "(null)", std::move(text)});
}

std::vector<LoggedMessage>& logged_messages() {
  static std::vector<LoggedMessage> messages;
  return messages;
}

std::vector<std::string> logged_texts() {
  std::vector<std::string> out;
  for (const auto& m : logged_messages()) out.push_back(m.text);
  return out;
}

void* counting_allocate(size_t nobj, size_t size) {
  const bool fail =
      failAllocationAt > 0 && static_cast<int>(allocationLog.size()) + 1 == failAllocationAt;
  void* block = fail ? nullptr : std::calloc(nobj, size);
  allocationLog.push_back({nobj, size, block});
  if (block != nullptr) liveBlocks.push_back(block);
  return block;
}

void counting_free(void* block) {
  freeLog.push_back(block);
  if (block == nullptr) return;
  auto it = std::find(liveBlocks.begin(), liveBlocks.end(), block);
  if (it == liveBlocks.end()) {
    ADD_FAILURE() << "freeMemory of a block the allocator did not hand out: " << block;
    return;
  }
  liveBlocks.erase(it);
  std::free(block);
}

void reset_allocator(int failAt) {
  allocationLog.clear();
  freeLog.clear();
  failAllocationAt = failAt;
}

size_t live_allocations() { return liveBlocks.size(); }
const std::vector<AllocationRecord>& allocations() { return allocationLog; }
const std::vector<void*>& frees() { return freeLog; }

fmiCallbackFunctions host_callbacks() {
  return fmiCallbackFunctions{recording_logger, counting_allocate, counting_free};
}

HostInstance::HostInstance(const FmiLibrary& lib, const char* name, fmiBoolean loggingOn,
                           const char* guid)
    : HostInstance(lib, name, loggingOn, guid, host_callbacks()) {}

HostInstance::HostInstance(const FmiLibrary& lib, const char* name, fmiBoolean loggingOn,
                           const char* guid, fmiCallbackFunctions functions)
    : lib_(lib) {
  if (lib.InstantiateModel != nullptr) c_ = lib.InstantiateModel(name, guid, functions, loggingOn);
}

void HostInstance::reset() {
  if (c_ != nullptr) lib_.FreeModelInstance(c_);
  c_ = nullptr;
}

void enter_test_directory() {
  const char* dir = std::getenv("TAVELO_TEST_TMP");
  if (dir == nullptr || *dir == '\0') return;
  // One folder per test process: tests run in parallel and each writes its own "dsres.mat".
  const std::filesystem::path own =
      std::filesystem::path(dir) / ("fmi-" + std::to_string(process_id()));
  std::error_code ec;
  std::filesystem::create_directories(own, ec);
  std::filesystem::current_path(own, ec);
  if (ec) ADD_FAILURE() << "cannot enter " << own << ": " << ec.message();
}
