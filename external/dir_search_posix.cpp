// The directory search over POSIX stat, opendir, readdir and closedir. A handle is the DIR*
// of the open directory. Only the name of the find record is filled.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "external/dir_search.h"

DirSearchFaults dirSearchFaults = {0, 0, 0, 0};

static_assert(NAME_MAX < DirFindNameSize, "a directory entry's name fits the find record");

namespace {

DIR* dir_of(DirSearchHandle handle) { return reinterpret_cast<DIR*>(handle); }

// Opens the directory a pattern searches: the pattern without its "*". A backslash before the
// "*" is the separator the stream adds, so the name without it is tried first; a POSIX name
// may itself end in a backslash, so the name with it is tried when that one does not exist.
DIR* open_pattern_directory(const char* pattern) {
  size_t n = std::strlen(pattern);
  if (n > 0 && pattern[n - 1] == '*') --n;
  char* directory = static_cast<char*>(std::malloc(n + 1));
  if (directory == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(directory, pattern, n);
  directory[n] = '\0';
  DIR* dir = nullptr;
  if (n > 1 && directory[n - 1] == '\\') {
    directory[n - 1] = '\0';
    dir = opendir(directory);
    directory[n - 1] = '\\';
    if (dir == nullptr && (errno == ENOENT || errno == ENOTDIR)) dir = opendir(directory);
  } else {
    dir = opendir(directory);
  }
  const int error = errno;
  std::free(directory);
  errno = error;
  return dir;
}

// One readdir into data; a null from readdir with errno set is a read error, not the end.
DirFindResult read_entry(DIR* dir, DirFindData* data) {
  if (dirSearchFaults.readErrno != 0) {
    if (dirSearchFaults.readsLeft <= 0) {
      errno = dirSearchFaults.readErrno;
      return DirFindResult::Failed;
    }
    --dirSearchFaults.readsLeft;
  }
  errno = 0;
  const dirent* e = readdir(dir);
  if (e == nullptr) return errno != 0 ? DirFindResult::Failed : DirFindResult::End;
  std::memset(data, 0, sizeof *data);
  std::memcpy(data->name, e->d_name, std::strlen(e->d_name) + 1);
  return DirFindResult::Match;
}

}  // namespace

DirPathKind dir_path_kind(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return DirPathKind::Unavailable;
  return S_ISDIR(status.st_mode) ? DirPathKind::Directory : DirPathKind::Other;
}

DirFindResult dir_find_first(const char* pattern, DirFindData* data, DirSearchHandle* handle) {
  *handle = DirNoSearch;
  if (dirSearchFaults.openErrno != 0) {
    errno = dirSearchFaults.openErrno;
    return DirFindResult::Failed;
  }
  DIR* dir = open_pattern_directory(pattern);
  if (dir == nullptr) return DirFindResult::Failed;
  const DirFindResult result = read_entry(dir, data);
  if (result == DirFindResult::Match) {
    *handle = reinterpret_cast<DirSearchHandle>(dir);
  } else {
    const int saved = errno;
    closedir(dir);
    errno = saved;
  }
  return result;
}

DirFindResult dir_find_next(DirSearchHandle handle, DirFindData* data) {
  return read_entry(dir_of(handle), data);
}

int dir_find_close(DirSearchHandle handle) {
  const int result = closedir(dir_of(handle));
  if (dirSearchFaults.closeErrno != 0) {
    errno = dirSearchFaults.closeErrno;
    return -1;
  }
  return result;
}
