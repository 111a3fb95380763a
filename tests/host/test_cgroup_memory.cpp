// The memory limit of the process's cgroup, read from a made-up /proc/self/cgroup and cgroup
// file system.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "host/cgroup_memory.h"

namespace {

// A folder with the list of cgroups ("cgroup") and the cgroup file system below "fs".
class CgroupMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tavelo-cgroup-memory-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }

  // Writes text to the file at path below the folder, making the folders to it.
  void write(const std::string& path, const std::string& text) const {
    for (size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1))
      mkdir((folder_ + "/" + path.substr(0, slash)).c_str(), 0755);
    std::ofstream(folder_ + "/" + path) << text;
  }

  double limit() const { return cgroup_memory_limit(folder_ + "/cgroup", folder_ + "/fs"); }

  std::string folder_;
};

struct LimitCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // path below the folder, text
  double limit;
};

TEST_F(CgroupMemory, TheSmallestLimitOfTheCgroupAndThoseAboveIt) {
  const double none = INFINITY;
  const LimitCase cases[] = {
      {"v2: its own", {{"cgroup", "0::/a/b\n"}, {"fs/a/b/memory.max", "2147483648\n"}}, 2147483648},
      {"v2: max is none", {{"cgroup", "0::/a/b\n"}, {"fs/a/b/memory.max", "max\n"}}, none},
      {"v2: its parent's, smaller",
       {{"cgroup", "0::/a/b\n"}, {"fs/a/b/memory.max", "max\n"}, {"fs/a/memory.max", "1000000\n"},
        {"fs/memory.max", "2000000\n"}},
       1000000},
      {"v2: the mount's own, where its path is not below it (a container)",
       {{"cgroup", "0::/docker/c1\n"}, {"fs/memory.max", "3000000\n"}}, 3000000},
      {"v2: its own, smaller than its parent's",
       {{"cgroup", "0::/a/b\n"}, {"fs/a/b/memory.max", "999999\n"},
        {"fs/a/memory.max", "1000000\n"}},
       999999},
      {"v2: a limit of 0 or no number reads as none",
       {{"cgroup", "0::/a/b\n"}, {"fs/a/b/memory.max", "0\n"}, {"fs/a/memory.max", "12k\n"}}, none},
      {"v1: the memory controller's",
       {{"cgroup", "5:devices:/x\n4:memory:/x\n0::/\n"},
        {"fs/memory/x/memory.limit_in_bytes", "536870912\n"}},
       536870912},
      {"v1: unlimited",
       {{"cgroup", "4:memory:/x\n"},
        {"fs/memory/x/memory.limit_in_bytes", "9223372036854771712\n"}},
       9223372036854771712.0},
      {"v1: among other controllers",
       {{"cgroup", "3:cpu,memory,cpuacct:/x\n"}, {"fs/memory/x/memory.limit_in_bytes", "5e8\n"}},
       5e8},
      {"v1: another controller's file is no limit",
       {{"cgroup", "3:cpuset:/x\n4:memory:/y\n"}, {"fs/memory/x/memory.limit_in_bytes", "5e8\n"}},
       none},
      {"v1 and v2: the smaller",
       {{"cgroup", "4:memory:/x\n0::/x\n"}, {"fs/memory/x/memory.limit_in_bytes", "7e8\n"},
        {"fs/x/memory.max", "6e8\n"}},
       6e8},
      {"v2's file is no v1 limit",
       {{"cgroup", "4:memory:/x\n"}, {"fs/memory/x/memory.max", "6e8\n"}}, none},
      {"no list of cgroups", {}, none},
      {"a list that does not parse", {{"cgroup", "garbage\n0:\n"}, {"fs/memory.max", "6e8\n"}},
       none},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    for (const auto& [path, text] : c.files) write(path, text);
    EXPECT_EQ(limit(), c.limit);
  }
}

TEST_F(CgroupMemory, ThisProcessHasALimitOrNone) {
  EXPECT_GT(cgroup_memory_limit(), 0.0);
  EXPECT_EQ(cgroup_memory_limit("/nonexistent/cgroup", "/nonexistent"), INFINITY);
}

}  // namespace
