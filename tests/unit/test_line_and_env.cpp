// Reading a line of a file (with the cache of the last file read) and environment variables.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "external_fixture.h"

namespace {

class ReadLineTest : public ExternalTest {
 protected:
  struct Line {
    std::string text;
    int32_t endOfFile;
    bool operator==(const Line&) const = default;
  };
  friend std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << '"' << l.text << "\" eof " << l.endOfFile;
  }

  static Line read(const std::string& path, int32_t n) {
    ReadLineResult r = ext_read_line(path.c_str(), n);
    return {r.line, r.endOfFile};
  }

  // A line of n characters that differ along the line, so a shifted read shows.
  static std::string line_of(size_t n, char first) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 23);
    return s;
  }

  // The message of a read failure.
  static std::string read_failure(int32_t n, const std::string& path, const char* text) {
    return "Error when reading line " + std::to_string(n) + " from file\n\"" + path + "\":\n" +
           text;
  }

  std::string abc() { return write_file("abc.txt", "alpha\nbeta\ngamma"); }
};

TEST_F(ReadLineTest, LinesOfAFile) {
  const std::string three = abc();
  const std::string blank = write_file("blank.txt", "a\n\nc\n");
  struct Case {
    std::string path;
    int32_t n;
    Line expected;
  } cases[] = {
      {three, 1, {"alpha", 0}},    {three, 2, {"beta", 0}}, {three, 3, {"gamma", 0}},
      {three, 4, {"", 1}},         {three, 0, {"", 1}},     {three, -5, {"", 1}},
      {three, INT32_MIN, {"", 1}}, {blank, 2, {"", 0}},     {blank, 3, {"c", 0}},
      {blank, 4, {"", 1}},
  };
  for (const Case& c : cases) {
    cache_open_file(nullptr, nullptr, 0);  // each read from the file's start
    EXPECT_EQ(read(c.path, c.n), c.expected) << c.path << " line " << c.n;
  }
}

TEST_F(ReadLineTest, LinesLongerThanTheLocalBufferAreReadWhole) {
  const std::vector<std::string> lines = {
      line_of(199, 'A'), line_of(200, 'B'), line_of(201, 'C'), line_of(500, 'D'), "tail",
      line_of(300, 'E')};
  std::string content;
  for (const std::string& l : lines) content += l + "\n";
  content.pop_back();  // the last line ends the file without a line feed
  const std::string path = write_file("long.txt", content);
  // In order (each line continues from the one before), then each on its own from the start.
  for (int32_t n = 1; n <= 6; ++n) EXPECT_EQ(read(path, n), (Line{lines[n - 1], 0})) << n;
  EXPECT_EQ(read(path, 7), (Line{"", 1}));
  for (int32_t n : {6, 5, 4, 3, 2, 1}) EXPECT_EQ(read(path, n), (Line{lines[n - 1], 0})) << n;
}

TEST_F(ReadLineTest, CacheKeepsTheFileOfTheLastRead) {
  const std::string path = abc();
  EXPECT_EQ(read(path, 2), (Line{"beta", 0}));
  ASSERT_NE(cachedFile, nullptr);
  EXPECT_STREQ(cachedFileName, path.c_str());
  EXPECT_EQ(cachedLineNumber, 2);
  const FILE* cached = cachedFile;
  EXPECT_EQ(read(path, 3), (Line{"gamma", 0}));
  EXPECT_EQ(cachedFile, cached) << "line 3 continues the cached file";
  EXPECT_EQ(cachedLineNumber, 3);

  // A line past the end closes the cached file it took.
  const int descriptors = open_descriptors();
  EXPECT_EQ(read(path, 4), (Line{"", 1}));
  EXPECT_EQ(cachedFile, nullptr);
  EXPECT_EQ(open_descriptors(), descriptors - 1);

  // A read of another file that ends at its end leaves the cache as it was.
  EXPECT_EQ(read(path, 1), (Line{"alpha", 0}));
  const std::string other = write_file("other.txt", "x\n");
  EXPECT_EQ(read(other, 2), (Line{"", 1}));
  EXPECT_STREQ(cachedFileName, path.c_str());
  EXPECT_EQ(cachedLineNumber, 1);
  // A successful read of another file replaces it, closing the file cached before.
  EXPECT_EQ(read(other, 1), (Line{"x", 0}));
  EXPECT_STREQ(cachedFileName, other.c_str());
  EXPECT_EQ(open_descriptors(), descriptors);
}

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

// Path of exactly n characters naming a file in dir ("./" steps pad it).
std::string path_of_length(const std::string& dir, size_t n) {
  std::string path = dir + "/";
  while (n - path.size() > 60) path += "./";
  path += std::string(n - path.size(), 'n');
  return path;
}

TEST_F(ReadLineTest, OnlyNamesOfAtMost298CharactersAreCached) {
  for (size_t length : {298u, 299u, 300u}) {
    SCOPED_TRACE(length);
    cache_open_file(nullptr, nullptr, 0);
    const std::string path = path_of_length(scratch.path(), length);
    ASSERT_EQ(path.size(), length);
    std::ofstream(path) << "first\nsecond\n";
    const int descriptors = open_descriptors();
    EXPECT_EQ(read(path, 1), (Line{"first", 0}));
    EXPECT_EQ(cachedFile != nullptr, length == 298);
    EXPECT_EQ(open_descriptors(), descriptors + (length == 298 ? 1 : 0));
    EXPECT_EQ(read(path, 2), (Line{"second", 0}));
  }
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

TEST_F(ReadLineTest, NoRoomForTheLine) {
  const std::string path = abc();
  // "beta" takes five characters and at least one must be left over.
  for (size_t room : {5u, 6u}) {
    SCOPED_TRACE(room);
    end_equation_reset();
    cache_open_file(nullptr, nullptr, 0);
    ModelicaAllocateString(simplestringSize - room - 1);
    if (room == 6) {
      EXPECT_EQ(read(path, 2), (Line{"beta", 0}));
    } else {
      const int descriptors = open_descriptors();
      EXPECT_EQ(raise([&] { read(path, 2); }),
                error_log(read_failure(2, path, "Cannot allocate memory")));
      EXPECT_EQ(open_descriptors(), descriptors);
    }
  }
}

class EnvironmentTest : public ExternalTest {
 protected:
  static constexpr const char* Name = "TAVELO_TEST_VARIABLE";
  void TearDown() override {
    unsetenv(Name);
    ExternalTest::TearDown();
  }
};

TEST_F(EnvironmentTest, SetUnsetAndEmpty) {
  struct Case {
    const char* value;  // null: not set
    int32_t convertToSlash;
    const char* expected;
    int32_t exist;
  } cases[] = {
      {"tmp\\x\\y", 1, "tmp/x/y", 1},
      {"tmp\\x\\y", 0, "tmp\\x\\y", 1},
      {"tmp\\x\\y", 2, "tmp\\x\\y", 1},  // only 1 converts
      {"\\\\", 1, "//", 1},
      {"", 1, "", 1},
      {nullptr, 1, "", 0},
      {nullptr, 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      setenv(Name, c.value, 1);
    } else {
      unsetenv(Name);
    }
    int32_t exist = -1;
    EXPECT_STREQ(internal_getenv(Name, c.convertToSlash, &exist), c.expected);
    EXPECT_EQ(exist, c.exist);
    GetenvResult r = ModelicaInternal_getenv(Name, c.convertToSlash);
    EXPECT_STREQ(r.value, c.expected);
    EXPECT_EQ(r.exist, c.exist);
    // The value is a copy: changing the variable later leaves it.
    setenv(Name, "changed", 1);
    EXPECT_STREQ(r.value, c.expected);
  }
}

TEST_F(EnvironmentTest, FrameNamesTheFunctionOnlyWhileItRuns) {
  setenv(Name, "0123456789", 1);
  FunctionFrame caller{"caller", nullptr};
  modelRuntime.functionStack = &caller;
  EXPECT_STREQ(ModelicaInternal_getenv(Name, 0).value, "0123456789");
  EXPECT_EQ(modelRuntime.functionStack, &caller);

  // No room for the value: the report names the function above its caller.
  end_equation_reset();
  modelRuntime.functionStack = &caller;
  ModelicaAllocateString(simplestringSize - 12);
  EXPECT_EQ(raise([&] { ModelicaInternal_getenv(Name, 0); }),
            (Lines{"stringmark+len+1<Endsimplestring\n",
                   "The following error was detected at time: 0.5\n", "Room to allocate string\n",
                   "The stack of functions is:\n", "ModelicaInternal_getenv\n", "caller\n"}));
}

}  // namespace
