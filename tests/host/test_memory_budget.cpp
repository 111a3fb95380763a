// The bound on the counts of states and event indicators: the memory the integrator takes for
// them against half of the machine's, or of the limit of the process's cgroup, read from a
// made-up /proc/self/cgroup and cgroup file system.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "host/errors.h"
#include "host/memory_budget.h"

namespace {

TEST(MemoryBudget, GrowsWithTheSquareOfTheStates) {
  // The dense Jacobian and the linear solver's saved copy: 8·n² bytes each, then the vectors.
  for (const size_t n : {1u, 4u, 1000u, 40000u, 100000u}) {
    SCOPED_TRACE(n);
    const double square = 8.0 * static_cast<double>(n) * static_cast<double>(n);
    EXPECT_GE(integrator_memory(n, 0), 2 * square + 32.0 * 8 * n);
    EXPECT_LE(integrator_memory(n, 0), 2 * square + 64.0 * 8 * n + 2 * 8 * n);
  }
  // The root finding's arrays: a few values per indicator.
  EXPECT_GE(integrator_memory(4, 100000) - integrator_memory(4, 0), 48.0 * 100000);
  EXPECT_LE(integrator_memory(4, 100000) - integrator_memory(4, 0), 128.0 * 100000);
}

struct Counts {
  const char* what;
  size_t states, indicators;
  double memory;
  bool refused;
};

TEST(MemoryBudget, CountsThatTakeMoreThanHalfTheMemoryAreRefused) {
  const double gb = 1e9;
  const double half40000 = integrator_memory(40000, 32);
  const Counts cases[] = {
      {"the pendulum on a small machine", 4, 32, 0.5 * gb, false},
      {"100000 states on 64 GB", 100000, 32, 64 * gb, true},
      {"40000 states on 32 GB", 40000, 32, 32 * gb, true},
      {"20000 states on 32 GB", 20000, 32, 32 * gb, false},
      {"exactly half the memory", 40000, 32, 2 * half40000, false},
      {"just more than half", 40000, 32, std::nextafter(2 * half40000, 0.0), true},
      {"a machine that cannot tell", 100000, 100000, INFINITY, false},
  };
  for (const Counts& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.refused) {
      EXPECT_NO_THROW(check_memory(c.states, c.indicators, c.memory, false));
      continue;
    }
    try {
      check_memory(c.states, c.indicators, c.memory, false);
      ADD_FAILURE() << "not refused";
    } catch (const HostError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind("modelDescription.xml: " + std::to_string(c.states) +
                               " continuous states and 32 event indicators would take ", 0),
                0u) << text;
      EXPECT_NE(text.find("more than half of this machine's"), std::string::npos) << text;
    }
  }
}

TEST(MemoryBudget, TheMessageSaysHowMuch) {
  try {
    check_memory(40000, 32, 16e9, false);
    FAIL() << "not refused";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(),
                 "modelDescription.xml: 40000 continuous states and 32 event indicators would "
                 "take 25.6 GB for the integrator (its dense Jacobian grows with the square of "
                 "the states), more than half of this machine's 16 GB of memory");
  }
}

TEST(MemoryBudget, TheMessageNamesACgroupsLimit) {
  try {
    check_memory(8000, 32, 1e9, true);
    FAIL() << "not refused";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(),
                 "modelDescription.xml: 8000 continuous states and 32 event indicators would "
                 "take 1.03 GB for the integrator (its dense Jacobian grows with the square of "
                 "the states), more than half of the 1 GB of memory that the cgroup of this "
                 "process allows");
  }
}

// The machine's memory and the cgroup's limit, and the memory the message names (empty: the
// counts fit).
struct RunMemory {
  const char* what;
  double machine, cgroup;
  std::string memory;
};

TEST(MemoryBudget, TheRunsCheckTakesTheSmallerOfTheMachinesMemoryAndTheCgroupsLimit) {
  // 8000 states and 32 event indicators take 1.03 GB.
  const std::string cgroup = "the 1 GB of memory that the cgroup of this process allows";
  const std::string machine = "this machine's 1 GB of memory";
  const RunMemory cases[] = {
      {"a cgroup limit below the machine's memory", 64e9, 1e9, cgroup},
      {"a cgroup limit below the machine's that fits", 64e9, 4e9, ""},
      {"no cgroup limit", 1e9, INFINITY, machine},
      {"a cgroup limit above the machine's memory", 1e9, 64e9, machine},
      {"a cgroup limit of the machine's memory", 1e9, 1e9, machine},
      {"a machine that cannot tell, in a cgroup", INFINITY, 1e9, cgroup},
  };
  for (const RunMemory& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      check_run_memory(8000, 32, c.machine, c.cgroup);
      EXPECT_EQ(c.memory, "") << "not refused";
    } catch (const HostError& e) {
      const std::string text = e.what();
      EXPECT_NE(c.memory, "") << text;
      EXPECT_EQ(text.substr(text.rfind("more than half of ") + 18), c.memory) << text;
    }
  }
}

TEST(MemoryBudget, ThisMachineHasMemory) {
  EXPECT_GT(physical_memory(), 1e8);
}

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
