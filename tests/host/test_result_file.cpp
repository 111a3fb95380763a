// Whether a run wrote "dsres.mat": the file's stamp after the run against the one before.
#include <gtest/gtest.h>

#include "host/result_file.h"

namespace {

FileStamp stamp(ino_t inode, off_t size, time_t seconds, long nanoseconds) {
  FileStamp s;
  s.exists = true;
  s.device = 2049;
  s.inode = inode;
  s.size = size;
  s.modified = {seconds, nanoseconds};
  return s;
}

struct Case {
  const char* what;
  FileStamp before, now;
  bool written;
};

TEST(ResultFileStamp, WrittenWhenAnythingStatSeesChanged) {
  const FileStamp was = stamp(17, 4096, 1765400000, 500000000);
  FileStamp elsewhere = was;
  elsewhere.device = 2050;
  const Case cases[] = {
      {"untouched", was, was, false},
      {"none before, one now", FileStamp{}, was, true},
      {"one before, none now", was, FileStamp{}, false},
      {"none before or after", FileStamp{}, FileStamp{}, false},
      // A run repeated within the same second rewrites the file to the same size in place.
      {"same second, a nanosecond later", was, stamp(17, 4096, 1765400000, 500000001), true},
      {"same second, earlier nanoseconds", was, stamp(17, 4096, 1765400000, 0), true},
      {"the next second, same nanoseconds", was, stamp(17, 4096, 1765400001, 500000000), true},
      {"same time, another size", was, stamp(17, 4095, 1765400000, 500000000), true},
      {"same time and size, another file", was, stamp(18, 4096, 1765400000, 500000000), true},
      {"same inode on another device", was, elsewhere, true},
  };
  for (const Case& c : cases) EXPECT_EQ(written_since(c.before, c.now), c.written) << c.what;
}

}  // namespace
