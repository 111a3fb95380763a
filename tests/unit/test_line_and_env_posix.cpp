// Reading a line where only a POSIX system behaves that way: a file renamed or removed while
// the cache holds it open, a directory that opens as a file, a pipe that cannot go back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "read_line_fixture.h"

namespace {

// The cached stream goes on with the file it opened: replacing or removing the file under
// the same name shows only when a read opens the name anew.
TEST_F(ReadLineTest, CachedStreamOutlivesTheFileUnderItsName) {
  const std::string path = abc();
  EXPECT_EQ(read(path, 1), (Line{"alpha", 0}));
  const std::string replacement = write_file("new.txt", "one\ntwo\nthree\nfour\n");
  std::filesystem::rename(replacement, path);
  EXPECT_EQ(read(path, 2), (Line{"beta", 0}));
  EXPECT_EQ(read(path, 2), (Line{"two", 0})) << "an earlier or the same line opens the file anew";
  EXPECT_EQ(read(path, 4), (Line{"four", 0}));

  std::filesystem::remove(path);
  EXPECT_EQ(read(path, 5), (Line{"", 1})) << "the cached stream reaches its end";
  EXPECT_EQ(raise([&] { read(path, 5); }),
            error_log("Not possible to open file \"" + path +
                      "\" for reading:\nNo such file or directory\n"));
}

TEST_F(ReadLineTest, RemovedFileIsReadOnFromTheCache) {
  const std::string path = abc();
  EXPECT_EQ(read(path, 1), (Line{"alpha", 0}));
  std::filesystem::remove(path);
  EXPECT_EQ(read(path, 3), (Line{"gamma", 0}));
  EXPECT_EQ(read(path, 4), (Line{"", 1}));
  EXPECT_EQ(
      raise([&] { read(path, 1); }).at(1),
      "Not possible to open file \"" + path + "\" for reading:\nNo such file or directory\n\n");
}

TEST_F(ReadLineTest, ReadErrorIsNoMissingLine) {
  // A directory opens as a file here, and reading it fails.
  const std::string d = scratch.path();
  const std::string path = abc();
  EXPECT_EQ(read(path, 1), (Line{"alpha", 0}));
  const FILE* cached = cachedFile;
  for (int32_t n : {1, 3}) {
    EXPECT_EQ(raise([&] { read(d, n); }), error_log(read_failure(n, d, "Is a directory")));
  }
  EXPECT_EQ(cachedFile, cached) << "a failed read leaves the cache";
  EXPECT_EQ(read(path, 2), (Line{"beta", 0}));
}

TEST_F(ReadLineTest, LongLineThatCannotBeReadAgain) {
  // A pipe cannot go back to the start of a long line; a short one needs no going back.
  const std::string fifo = scratch.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (size_t length : {200u, 201u}) {
    SCOPED_TRACE(length);
    const std::string line = line_of(length, 'a');
    std::jthread writer([&] {
      const int fd = open(fifo.c_str(), O_WRONLY);
      if (fd < 0) return;
      const std::string content = line + "\n";
      EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
      close(fd);
    });
    if (length == 200) {
      EXPECT_EQ(read(fifo, 1), (Line{line, 0}));
    } else {
      EXPECT_EQ(raise([&] { read(fifo, 1); }), error_log(read_failure(1, fifo, "Illegal seek")));
    }

    cache_open_file(nullptr, nullptr, 0);
  }
}

}  // namespace
