// Directory listing: the names of a directory's entries into a string array of the size the
// model expects. Every failure is a model error; the stream is closed before it is raised,
// except when it could not be opened or closing it is what failed.
#include <cerrno>
#include <cstring>

#include "external/directory.h"

namespace {

// What every slot of a new listing points at until a name fills it.
const char emptyName[] = "";

bool is_dot_entry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

[[noreturn]] void close_and_raise_errno(DirStream* s, const char* directory, int error) {
  dir_close(s);
  ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory,
                      std::strerror(error));
}

}  // namespace

void internal_read_directory(const char* directory, int nFiles, char** files) {
  DirStream* s = dir_open(directory);
  if (s == nullptr) {
    ModelicaFormatError("1: Not possible to get file names of \"%s\":\n%s", directory,
                        std::strerror(errno));
  }
  errno = 0;
  int count = 0;
  while (const DirEntry* entry = dir_read(s)) {
    if (is_dot_entry(entry->entryName)) continue;
    if (count >= nFiles) {
      dir_close(s);
      ModelicaFormatError(
          "Not possible to get file names of \"%s\":\nMore files in this directory as reported "
          "by nFiles (= %i)",
          directory, nFiles);
    }
    char* name = ModelicaAllocateStringWithErrorReturn(static_cast<size_t>(entry->entryNameLength));
    if (name == nullptr) {
      const int error = errno;
      if (error != 0) close_and_raise_errno(s, directory, error);
      dir_close(s);
      ModelicaFormatError("Not possible to get file names of \"%s\":\nNot enough storage",
                          directory);
    }
    std::memcpy(name, entry->entryName, static_cast<size_t>(entry->entryNameLength) + 1);
    files[count++] = name;
  }
  // The end of the stream with errno set is a read error, not the end of the directory.
  if (errno != 0) close_and_raise_errno(s, directory, errno);
  if (count != nFiles) {
    dir_close(s);
    ModelicaFormatError(
        "Not possible to get file names of \"%s\":\nLess files (= %d) found as defined by "
        "argument nNames (= %d)",
        directory, count, nFiles);
  }
  if (dir_close(s) != 0) {
    ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory,
                        std::strerror(errno));
  }
}

StringArray ext_read_directory(const char* directory, int nFiles) {
  MatrixMark saved = PushMark();
  StringArray files = StringArrayAlloc(1, nFiles);
  saved.place = PushMarkPlace();  // files outlives the PopMark below
  StringArrayFill(files, emptyName);
  internal_read_directory(directory, nFiles, files.data);
  PopMark(saved);
  return files;
}
