// Directory stream and directory listing, over real scratch directories and, for failures a
// disk does not give on demand, over the search layer's faults.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <vector>

#include "external/directory.h"
#include "external_fixture.h"

namespace {

using Names = std::set<std::string>;

class DirectoryTest : public ExternalTest {
 protected:
  // A directory "d" holding the files a and b (and, as every directory, "." and "..").
  std::string two_files() {
    const std::string d = scratch.file("d");
    std::filesystem::create_directory(d);
    for (const char* name : {"a", "b"}) std::ofstream(d + "/" + name) << name;
    return d;
  }

  static Names names_of(StringArray a) {
    Names names;
    for (int32_t i = 0; i < a.dims[0]; ++i) names.insert(a.data[i]);
    return names;
  }

  // All entries a stream delivers from where it stands.
  static std::vector<std::string> read_all(DirStream* s) {
    std::vector<std::string> names;
    while (DirEntry* e = dir_read(s)) {
      EXPECT_EQ(e->entryNameLength, static_cast<int16_t>(std::strlen(e->entryName)));
      names.emplace_back(e->entryName);
    }
    return names;
  }
};

TEST_F(DirectoryTest, ListingMustMatchTheExpectedCount) {
  const std::string d = two_files();
  const std::string prefix = "Not possible to get file names of \"" + d + "\":\n";
  struct Case {
    int nFiles;
    std::string message;  // empty: the listing succeeds
  } cases[] = {
      {2, ""},
      {1, prefix + "More files in this directory as reported by nFiles (= 1)"},
      {3, prefix + "Less files (= 2) found as defined by argument nNames (= 3)"},
      {0, prefix + "More files in this directory as reported by nFiles (= 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nFiles);
    const int descriptors = open_descriptors();
    if (c.message.empty()) {
      EXPECT_EQ(names_of(ext_read_directory(d.c_str(), c.nFiles)), (Names{"a", "b"}));
    } else {
      EXPECT_EQ(raise([&] { ext_read_directory(d.c_str(), c.nFiles); }), error_log(c.message));
    }
    EXPECT_EQ(open_descriptors(), descriptors) << "the stream is closed";
    end_equation_reset();
  }
}

TEST_F(DirectoryTest, EmptyDirectoryListsNothing) {
  const std::string d = scratch.file("empty");
  std::filesystem::create_directory(d);
  EXPECT_EQ(ext_read_directory(d.c_str(), 0).dims[0], 0);
}

TEST_F(DirectoryTest, ListingKeepsItsArrayAndRestoresTheCallersReleasePoint) {
  const std::string d = two_files();
  RealVectorAlloc(3);
  PushMark();  // the caller's release point lies above its vector
  const MatrixMark before = currentMark;
  StringArray files = ext_read_directory(d.c_str(), 2);
  EXPECT_EQ(files.data, before.place.Stringbuffer);
  EXPECT_EQ(currentMark.place.Stringbuffer, before.place.Stringbuffer + 2);
  EXPECT_EQ(currentMark.place.Sizebuffer, before.place.Sizebuffer + 1);
  EXPECT_EQ(currentMark.base.Stringbuffer, before.base.Stringbuffer);
  EXPECT_EQ(currentMark.base.Realbuffer, before.base.Realbuffer);
  // The names outlive later temporaries of the caller.
  StringArrayFill(StringArrayAlloc(1, 4), "x");
  EXPECT_EQ(names_of(files), (Names{"a", "b"}));
}

TEST_F(DirectoryTest, NamesWithAndWithoutTrailingSeparator) {
  const std::string d = two_files();
  for (const std::string& name : {d, d + "/"}) {
    EXPECT_EQ(names_of(ext_read_directory(name.c_str(), 2)), (Names{"a", "b"})) << name;
    end_equation_reset();
  }
  // A name may end in a backslash here; it is the name, not a separator to add to.
  const std::string e = scratch.file("e\\");
  std::filesystem::create_directory(e);
  std::ofstream(e + "/c") << "c";
  EXPECT_EQ(names_of(ext_read_directory(e.c_str(), 1)), (Names{"c"}));
  // The pattern gets a backslash unless the name already ends in a separator.
  struct Case {
    std::string name;
    std::string pattern;
  } cases[] = {
      {d, d + "\\*"},
      {d + "/", d + "/*"},
      {scratch.file("e\\"), scratch.file("e\\*")},
  };
  for (const Case& c : cases) {
    DirStream* s = dir_open(c.name.c_str());
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(std::string(dir_stream_pattern(s)), c.pattern);
    EXPECT_EQ(dir_close(s), 0);
  }
}

TEST_F(DirectoryTest, DirectoryThatCannotBeListed) {
  const std::string file = write_file("plain", "x");
  const std::string missing = scratch.file("missing");
  const std::string d = two_files();
  struct Case {
    std::string directory;
    DirSearchFaults faults;
    const char* text;
  } cases[] = {
      {missing, {}, "No such file or directory"},
      {file, {}, "Not a directory"},
      {"", {}, "Not a directory"},
      {d, {EACCES, 0, 0, 0}, "Permission denied"},
      {d, {EIO, 0, 0, 0}, "Input/output error"},
      // A read error on the first entry is a directory that cannot be opened.
      {d, {0, EIO, 0, 0}, "Input/output error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory + " " + c.text);
    dirSearchFaults = c.faults;
    const int descriptors = open_descriptors();
    EXPECT_EQ(
        raise([&] { ext_read_directory(c.directory.c_str(), 2); }),
        error_log("1: Not possible to get file names of \"" + c.directory + "\":\n" + c.text));
    EXPECT_EQ(open_descriptors(), descriptors);
    end_equation_reset();
  }
}

// A read error anywhere in the directory, also on the read that would have found its end, is
// reported, not taken as the end.
TEST_F(DirectoryTest, ReadErrorIsReportedNotTakenAsTheEnd) {
  const std::string d = two_files();  // four entries with "." and ".."
  for (int32_t readsLeft : {1, 2, 3, 4}) {
    SCOPED_TRACE(readsLeft);
    dirSearchFaults = DirSearchFaults{0, EIO, readsLeft, 0};
    const int descriptors = open_descriptors();
    EXPECT_EQ(raise([&] { ext_read_directory(d.c_str(), 2); }),
              error_log("Not possible to get file names of \"" + d + "\":\nInput/output error"));
    EXPECT_EQ(open_descriptors(), descriptors);
    end_equation_reset();
  }
  // One more successful read reaches the end before the fault.
  dirSearchFaults = DirSearchFaults{0, EIO, 5, 0};
  EXPECT_EQ(names_of(ext_read_directory(d.c_str(), 2)), (Names{"a", "b"}));
}

TEST_F(DirectoryTest, ReadErrorEndsTheStreamWithErrnoSet) {
  const std::string d = two_files();
  dirSearchFaults = DirSearchFaults{0, EIO, 2, 0};
  DirStream* s = dir_open(d.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_NE(dir_read(s), nullptr);
  EXPECT_NE(dir_read(s), nullptr);
  EXPECT_EQ(dir_read(s), nullptr);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(dir_read(s), nullptr);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(dir_tell(s), -1);
  EXPECT_EQ(dir_close(s), 0);
}

TEST_F(DirectoryTest, CloseReportsTheSearchsFailure) {
  const std::string d = two_files();
  dirSearchFaults.closeErrno = EIO;
  DirStream* s = dir_open(d.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(dir_close(s), -1);
  EXPECT_EQ(errno, EIO);
  // A stream read to its end has no search left to close; the read that found the end ended
  // it, and its failure stays in errno.
  s = dir_open(d.c_str());
  ASSERT_NE(s, nullptr);
  read_all(s);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(dir_close(s), 0);
}

TEST_F(DirectoryTest, FailedCloseAtTheEndOfTheListingIsReported) {
  const std::string d = two_files();
  dirSearchFaults.closeErrno = EIO;
  const int descriptors = open_descriptors();
  EXPECT_EQ(raise([&] { ext_read_directory(d.c_str(), 2); }),
            error_log("Not possible to get file names of \"" + d + "\":\nInput/output error"));
  EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(DirectoryTest, NoRoomForANameIsReported) {
  const std::string d = two_files();
  // Each name takes two characters; the listing needs both while at least one is left over.
  for (size_t room : {4u, 5u}) {
    SCOPED_TRACE(room);
    end_equation_reset();
    ModelicaAllocateString(simplestringSize - room - 1);
    if (room == 5) {
      EXPECT_EQ(names_of(ext_read_directory(d.c_str(), 2)), (Names{"a", "b"}));
    } else {
      const int descriptors = open_descriptors();
      EXPECT_EQ(raise([&] { ext_read_directory(d.c_str(), 2); }),
                error_log("Not possible to get file names of \"" + d + "\":\nNot enough storage"));
      EXPECT_EQ(open_descriptors(), descriptors);
    }
  }
}

TEST_F(DirectoryTest, OpenReportsThroughErrno) {
  const std::string file = write_file("plain", "x");
  struct Case {
    const char* directory;
    int error;
  } cases[] = {
      {nullptr, EFAULT},
      {"", ENOTDIR},
      {file.c_str(), ENOTDIR},
      {"/no/such/directory", ENOENT},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(dir_open(c.directory), nullptr);
    EXPECT_EQ(errno, c.error) << (c.directory ? c.directory : "null");
  }
}

TEST_F(DirectoryTest, NullAndInvalidStreams) {
  const std::vector<std::pair<const char*, std::function<void()>>> nullCalls = {
      {"read", [] { EXPECT_EQ(dir_read(nullptr), nullptr); }},
      {"close", [] { EXPECT_EQ(dir_close(nullptr), -1); }},
      {"rewind", [] { dir_rewind(nullptr); }},
      {"tell", [] { EXPECT_EQ(dir_tell(nullptr), -1); }},
      {"seek", [] { dir_seek(nullptr, 1); }},
  };
  for (const auto& [name, call] : nullCalls) {
    errno = 0;
    call();
    EXPECT_EQ(errno, EFAULT) << name;
  }
  DirStream* s = dir_open(two_files().c_str());
  ASSERT_NE(s, nullptr);
  char* name = s->entry.entryName;
  s->entry.entryName = nullptr;
  EXPECT_EQ(dir_read(s), nullptr);
  EXPECT_EQ(errno, EINVAL);
  s->entry.entryName = name;
  EXPECT_NE(dir_read(s), nullptr);
  EXPECT_EQ(dir_close(s), 0);
}

TEST_F(DirectoryTest, RewindTellAndSeek) {
  DirStream* s = dir_open(two_files().c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(dir_tell(s), 0);
  const std::vector<std::string> all = read_all(s);
  ASSERT_EQ(Names(all.begin(), all.end()), (Names{".", "..", "a", "b"}));
  EXPECT_EQ(dir_tell(s), -1);

  dir_rewind(s);
  EXPECT_EQ(dir_tell(s), 0);
  EXPECT_EQ(read_all(s), all);

  struct Case {
    int seek;
    int tell;
    const char* next;  // what the following read gives; null: the end
  } cases[] = {
      {0, 0, all[0].c_str()}, {1, 1, all[1].c_str()}, {3, 3, all[3].c_str()},
      {4, 4, nullptr},        {5, -1, nullptr},       {-1, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seek);
    dir_seek(s, c.seek);
    EXPECT_EQ(dir_tell(s), c.tell);
    DirEntry* e = dir_read(s);
    if (c.next == nullptr) {
      EXPECT_EQ(e, nullptr);
    } else {
      ASSERT_NE(e, nullptr);
      EXPECT_STREQ(e->entryName, c.next);
    }
  }
  // An invalid position changes nothing.
  dir_seek(s, 2);
  dir_seek(s, -2);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(dir_tell(s), 2);
  EXPECT_EQ(dir_close(s), 0);
}

TEST_F(DirectoryTest, StreamIsNotLimitedTo32767Entries) {
  if (ManyFilesAreSlow) GTEST_SKIP() << "40000 files take minutes to make here";
  const std::string d = scratch.file("many");
  std::filesystem::create_directory(d);
  constexpr int Count = 40000;
  for (int i = 0; i < Count; ++i) {
    const std::string name = d + "/f" + std::to_string(i);
    const int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  DirStream* s = dir_open(d.c_str());
  ASSERT_NE(s, nullptr);
  std::set<std::string> names;
  int read = 0;
  while (DirEntry* e = dir_read(s)) {
    names.insert(e->entryName);
    ++read;
    if (read == 32768) {
      EXPECT_EQ(dir_tell(s), 32768);
    }
  }
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(read, Count + 2);
  EXPECT_EQ(names.size(), static_cast<size_t>(Count + 2));
  EXPECT_EQ(names.count("f39999"), 1u);
  dir_seek(s, 40001);
  EXPECT_EQ(dir_tell(s), 40001);
  EXPECT_EQ(dir_close(s), 0);
}

}  // namespace
