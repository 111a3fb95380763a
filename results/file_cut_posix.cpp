// Cutting the file under a stream with ftruncate on its descriptor (64-bit off_t).
#include <unistd.h>

#include "results/file_cut.h"

static_assert(sizeof(off_t) == 8, "file lengths past 2 GiB");

bool file_cut(FILE* fp, int64_t length) {
  const int fd = fileno(fp);
  return fd >= 0 && ftruncate(fd, static_cast<off_t>(length)) == 0;
}
