// Cutting the file under a stream with msvcrt's _chsize_s on its descriptor (64-bit length).
#include <io.h>

#include <cerrno>

#include "results/file_cut.h"

bool file_cut(FILE* fp, int64_t length) {
  const int fd = _fileno(fp);
  if (fd < 0) return false;
  const errno_t error = _chsize_s(fd, length);
  if (error != 0) errno = error;
  return error == 0;
}
