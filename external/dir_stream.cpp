// The directory stream over the platform's search. The position counts in 32 bits, so a
// directory of any realistic size is read to its end.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "external/directory.h"

namespace {

char* pattern_of(DirStream* s) { return reinterpret_cast<char*>(s + 1); }

// Starts the search of s; its first match waits in findData (position 0). Nothing found: the
// stream is at its end (position -1) and errno tells an error from an empty result.
DirFindResult start_search(DirStream* s) {
  const DirFindResult result = dir_find_first(pattern_of(s), &s->findData, &s->searchHandle);
  s->position = result == DirFindResult::Match ? 0 : -1;
  return result;
}

void end_search(DirStream* s) {
  if (s->searchHandle != DirNoSearch) dir_find_close(s->searchHandle);
  s->searchHandle = DirNoSearch;
}

}  // namespace

const char* dir_stream_pattern(const DirStream* s) { return reinterpret_cast<const char*>(s + 1); }

DirStream* dir_open(const char* directory) {
  errno = 0;
  if (directory == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  if (directory[0] == '\0') {
    errno = ENOTDIR;
    return nullptr;
  }
  switch (dir_path_kind(directory)) {
    case DirPathKind::Unavailable:
      errno = ENOENT;
      return nullptr;
    case DirPathKind::Other:
      errno = ENOTDIR;
      return nullptr;
    case DirPathKind::Directory:
      break;
  }
  const size_t n = std::strlen(directory);
  auto* s = static_cast<DirStream*>(std::malloc(sizeof(DirStream) + n + 3));
  if (s == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  char* pattern = pattern_of(s);
  std::memcpy(pattern, directory, n);
  size_t k = n;
  if (directory[n - 1] != '/' && directory[n - 1] != '\\') pattern[k++] = '\\';
  pattern[k++] = '*';
  pattern[k] = '\0';
  s->entry.entryId = 0;
  s->entry.entryRecordLength = 0;
  s->entry.entryNameLength = 0;
  s->entry.entryName = s->findData.name;
  // A directory that cannot be opened or read is no stream, not an empty one.
  if (start_search(s) == DirFindResult::Failed) {
    const int saved = errno;
    std::free(s);
    errno = saved;
    return nullptr;
  }
  return s;
}

DirEntry* dir_read(DirStream* s) {
  errno = 0;
  if (s == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  if (s->entry.entryName != s->findData.name) {
    errno = EINVAL;
    return nullptr;
  }
  if (s->position < 0) return nullptr;
  if (s->position == 0) {
    // After a rewind the search starts again; otherwise its first match is waiting.
    if (s->searchHandle == DirNoSearch) {
      switch (start_search(s)) {
        case DirFindResult::Match:
          break;
        case DirFindResult::End:
          errno = 0;
          return nullptr;
        case DirFindResult::Failed:
          return nullptr;
      }
    }
  } else {
    switch (dir_find_next(s->searchHandle, &s->findData)) {
      case DirFindResult::Match:
        break;
      case DirFindResult::End:
        // errno is cleared before the search is ended, so a failure to end it stays there.
        errno = 0;
        end_search(s);
        s->position = -1;
        return nullptr;
      case DirFindResult::Failed: {
        // A read error ends the stream but stays in errno for the caller to report.
        const int saved = errno;
        end_search(s);
        s->position = -1;
        errno = saved;
        return nullptr;
      }
    }
  }
  ++s->position;
  s->entry.entryNameLength = static_cast<int16_t>(std::strlen(s->findData.name));
  return &s->entry;
}

int dir_close(DirStream* s) {
  errno = 0;
  if (s == nullptr) {
    errno = EFAULT;
    return -1;
  }
  int result = 0;
  if (s->searchHandle != DirNoSearch) result = dir_find_close(s->searchHandle);
  std::free(s);
  return result;
}

void dir_rewind(DirStream* s) {
  errno = 0;
  if (s == nullptr) {
    errno = EFAULT;
    return;
  }
  end_search(s);
  s->position = 0;
}

int dir_tell(DirStream* s) {
  errno = 0;
  if (s == nullptr) {
    errno = EFAULT;
    return -1;
  }
  return s->position;
}

void dir_seek(DirStream* s, int p) {
  errno = 0;
  if (s == nullptr) {
    errno = EFAULT;
    return;
  }
  if (p < -1) {
    errno = EINVAL;
    return;
  }
  if (p == -1) {
    end_search(s);
    s->position = -1;
    return;
  }
  dir_rewind(s);
  while (s->position < p && dir_read(s) != nullptr) {
  }
}
