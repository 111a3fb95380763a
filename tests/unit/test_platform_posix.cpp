// The unit tests' process services on POSIX systems.
#include <dirent.h>

#include <cstdlib>

#include "test_platform.h"

int open_file_count() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

void set_environment(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}
