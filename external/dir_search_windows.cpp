// The directory search over the Windows runtime's wildcard search (_findfirst64i32,
// _findnext64i32, _findclose) and file status (_stat64i32). A handle is the runtime's search
// handle; the find record takes the runtime's attributes, time stamps, size and name.
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "external/dir_search.h"

DirSearchFaults dirSearchFaults = {0, 0, 0, 0};

static_assert(sizeof(_finddata64i32_t::name) == DirFindNameSize,
              "the find record holds the runtime's names");

namespace {

// The injected read failure, counted over first and next matches alike.
bool read_fault() {
  if (dirSearchFaults.readErrno == 0) return false;
  if (dirSearchFaults.readsLeft <= 0) {
    errno = dirSearchFaults.readErrno;
    return true;
  }
  --dirSearchFaults.readsLeft;
  return false;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

void copy_match(const _finddata64i32_t& match, DirFindData* data) {
  data->attributes = match.attrib;
  data->timeCreate = match.time_create;
  data->timeAccess = match.time_access;
  data->timeWrite = match.time_write;
  data->size = match.size;
  std::memcpy(data->name, match.name, sizeof data->name);
}

}  // namespace

// The runtime's file status fails (ENOENT) on a directory name that ends in a separator, which
// the directory stream accepts; the name without its trailing separators is the same
// directory. A root ("/", "C:/") keeps its separator.
DirPathKind dir_path_kind(const char* path) {
  size_t n = std::strlen(path);
  const size_t keep = n >= 2 && path[1] == ':' ? 3 : 1;
  while (n > keep && is_separator(path[n - 1])) --n;
  char* name = static_cast<char*>(std::malloc(n + 1));
  if (name == nullptr) {
    errno = ENOMEM;
    return DirPathKind::Unavailable;
  }
  std::memcpy(name, path, n);
  name[n] = '\0';
  struct _stat64i32 status;
  const bool found = _stat64i32(name, &status) == 0;
  const int error = errno;
  std::free(name);
  errno = error;
  if (!found) return DirPathKind::Unavailable;
  return (status.st_mode & _S_IFDIR) != 0 ? DirPathKind::Directory : DirPathKind::Other;
}

DirFindResult dir_find_first(const char* pattern, DirFindData* data, DirSearchHandle* handle) {
  *handle = DirNoSearch;
  if (dirSearchFaults.openErrno != 0) {
    errno = dirSearchFaults.openErrno;
    return DirFindResult::Failed;
  }
  if (read_fault()) return DirFindResult::Failed;
  _finddata64i32_t match;
  const intptr_t h = _findfirst64i32(pattern, &match);
  // No match at all sets ENOENT; anything else is a failure of the search.
  if (h == -1) return errno == ENOENT ? DirFindResult::End : DirFindResult::Failed;
  copy_match(match, data);
  *handle = h;
  return DirFindResult::Match;
}

DirFindResult dir_find_next(DirSearchHandle handle, DirFindData* data) {
  if (read_fault()) return DirFindResult::Failed;
  _finddata64i32_t match;
  if (_findnext64i32(handle, &match) != 0) {
    // The end of the matches sets ENOENT; anything else is a read failure.
    return errno == ENOENT ? DirFindResult::End : DirFindResult::Failed;
  }
  copy_match(match, data);
  return DirFindResult::Match;
}

int dir_find_close(DirSearchHandle handle) {
  const int result = _findclose(handle);
  if (dirSearchFaults.closeErrno != 0) {
    errno = dirSearchFaults.closeErrno;
    return -1;
  }
  return result;
}
