// The test host's platform part on POSIX systems: dlopen, dlclose, /proc/self/fd, getpid.
#include <dlfcn.h>
#include <unistd.h>

#include "test_host.h"

void* open_library(const char* path, std::string& error) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) error = dlerror();
  return handle;
}

void* library_symbol(void* handle, const char* name) { return dlsym(handle, name); }

bool close_library(void* handle) { return dlclose(handle) == 0; }

int open_handles_on(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::absolute(path, ec);
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == target) ++n;
  }
  return n;
}

long process_id() { return static_cast<long>(getpid()); }
