// The unit tests' process services on Windows.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "test_platform.h"

int open_file_count() {
  // Every small handle value is asked whether it is an open file; a test process holds a few
  // hundred handles at most.
  int n = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    if (GetFileType(reinterpret_cast<HANDLE>(value)) == FILE_TYPE_DISK) ++n;
  }
  return n;
}

void set_environment(const char* name, const char* value) {
  _putenv_s(name, value != nullptr ? value : "");
}
