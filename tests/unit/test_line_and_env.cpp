// Reading a line of a file (with the cache of the last file read) and environment variables.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "read_line_fixture.h"
#include "test_platform.h"

namespace {

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

// The same lines with LF and with CR LF line ends, written byte for byte. Windows reads both
// as text (a CR before the line feed is part of the line end); elsewhere the CR stays in the
// line. Long lines take the second, direct read, which must land at the line's start.
TEST_F(ReadLineTest, LineEndsWithAndWithoutCarriageReturn) {
  const std::vector<std::string> lines = {"a\rb", line_of(201, 'A'), "", line_of(450, 'B'),
                                          "end"};
  struct Case {
    const char* name;
    const char* lineEnd;
    const char* lineEndLeft;  // what the line reader leaves of the line end in the line
  } cases[] = {
      {"lf.txt", "\n", ""},
      {"crlf.txt", "\r\n", OnWindows ? "" : "\r"},
  };
  for (const Case& c : cases) {
    std::string content;
    for (const std::string& l : lines) content += l + c.lineEnd;
    const std::string path = scratch.file(c.name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    cache_open_file(nullptr, nullptr, 0);
    // In order, continuing from the cached file; then backwards, each from the start.
    for (int32_t n = 1; n <= 5; ++n)
      EXPECT_EQ(read(path, n), (Line{lines[n - 1] + c.lineEndLeft, 0})) << c.name << " " << n;
    EXPECT_EQ(read(path, 6), (Line{"", 1})) << c.name;
    for (int32_t n : {5, 4, 3, 2, 1})
      EXPECT_EQ(read(path, n), (Line{lines[n - 1] + c.lineEndLeft, 0})) << c.name << " " << n;
  }
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
                error_log(read_failure(2, path, std::strerror(ENOMEM))));
      EXPECT_EQ(open_descriptors(), descriptors);
    }
  }
}

class EnvironmentTest : public ExternalTest {
 protected:
  static constexpr const char* Name = "TAVELO_TEST_VARIABLE";
  void TearDown() override {
    set_environment(Name, nullptr);
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
    if (c.value != nullptr && *c.value == '\0' && !EmptyEnvironmentValues) continue;
    set_environment(Name, c.value);
    int32_t exist = -1;
    EXPECT_STREQ(internal_getenv(Name, c.convertToSlash, &exist), c.expected);
    EXPECT_EQ(exist, c.exist);
    GetenvResult r = ModelicaInternal_getenv(Name, c.convertToSlash);
    EXPECT_STREQ(r.value, c.expected);
    EXPECT_EQ(r.exist, c.exist);
    // The value is a copy: changing the variable later leaves it.
    set_environment(Name, "changed");
    EXPECT_STREQ(r.value, c.expected);
  }
}

TEST_F(EnvironmentTest, FrameNamesTheFunctionOnlyWhileItRuns) {
  set_environment(Name, "0123456789");
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
