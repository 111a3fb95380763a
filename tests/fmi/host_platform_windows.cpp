// The test host's platform part on Windows: LoadLibrary, GetProcAddress and FreeLibrary; the
// process's open handles are found by asking every small handle value which file it refers to.
#include <windows.h>

#include "test_host.h"

void* open_library(const char* path, std::string& error) {
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* library_symbol(void* handle, const char* name) {
  FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
  return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(address));
}

bool close_library(void* handle) { return FreeLibrary(static_cast<HMODULE>(handle)) != 0; }

namespace {

// Volume and file index of a file: the same file whatever the path or handle.
struct FileIdentity {
  DWORD volume = 0, indexHigh = 0, indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool identity_of(HANDLE h, FileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

}  // namespace

int open_handles_on(const std::filesystem::path& path) {
  // Opened for no access, so the probe itself is no open handle of the kind being counted.
  HANDLE probe = CreateFileW(path.wstring().c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return 0;
  FileIdentity target;
  const bool known = identity_of(probe, target);
  int n = 0;
  // Handle values are multiples of 4; a test process holds a few hundred at most.
  for (uintptr_t value = 4; known && value < 0x4000; value += 4) {
    HANDLE h = reinterpret_cast<HANDLE>(value);
    FileIdentity id;
    if (h != probe && GetFileType(h) == FILE_TYPE_DISK && identity_of(h, id) && id == target) ++n;
  }
  CloseHandle(probe);
  return n;
}

long process_id() { return static_cast<long>(GetCurrentProcessId()); }
