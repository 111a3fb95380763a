// The holder of a folder's lock as /proc/locks shows it, and the lock itself between two
// descriptors of one process (flock locks belong to the open file, not to the process).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "host/errors.h"
#include "host/folder_lock.h"

namespace {

struct HolderCase {
  const char* what;
  const char* locks;
  pid_t holder;
};

TEST(FolderLock, HolderFromProcLocks) {
  const dev_t device = makedev(0xfe, 0x1);
  const ino_t inode = 10953204;
  const HolderCase cases[] = {
      {"the folder's flock", "1: FLOCK  ADVISORY  WRITE 4711 fe:01:10953204 0 EOF\n", 4711},
      {"after other locks",
       "1: POSIX  ADVISORY  WRITE 12 fe:01:10953204 0 0\n"
       "2: FLOCK  ADVISORY  WRITE 13 fe:01:10953205 0 EOF\n"
       "3: FLOCK  ADVISORY  WRITE 14 fe:00:10953204 0 EOF\n"
       "4: FLOCK  ADVISORY  WRITE 15 fe:01:10953204 0 EOF\n",
       15},
      {"a process that waits holds nothing",
       "1: FLOCK  ADVISORY  WRITE 15 fe:01:10953204 0 EOF\n"
       "1: -> FLOCK  ADVISORY  WRITE 16 fe:01:10953204 0 EOF\n",
       15},
      {"a waiter alone", "1: -> FLOCK  ADVISORY  WRITE 16 fe:01:10953204 0 EOF\n", 0},
      {"an inode that only begins alike", "1: FLOCK  ADVISORY  WRITE 17 fe:01:109532040 0 EOF\n",
       0},
      {"a POSIX lock of the folder", "1: POSIX  ADVISORY  WRITE 18 fe:01:10953204 0 EOF\n", 0},
      {"a holder in another pid namespace", "1: FLOCK  ADVISORY  WRITE 0 fe:01:10953204 0 EOF\n",
       0},
      {"no locks", "", 0},
  };
  for (const HolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(flock_holder(c.locks, device, inode), c.holder);
  }
}

TEST(FolderLock, ASecondLockOfTheFolderIsRefusedUntilTheFirstGoes) {
  char folder[] = "/tmp/tavelo-folder-lock-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  {
    const FolderLock first(folder, "first");
    ASSERT_TRUE(first.held());
    try {
      const FolderLock second(std::string(folder) + "/.", "second");
      ADD_FAILURE() << "a second lock of the folder";
    } catch (const HostError& e) {
      EXPECT_EQ(std::string(e.what()), "the result directory second is in use by another run "
                                       "(pid " + std::to_string(getpid()) + ")");
    }
  }
  const FolderLock again(folder, "again");
  EXPECT_TRUE(again.held());
  rmdir(folder);
}

}  // namespace
