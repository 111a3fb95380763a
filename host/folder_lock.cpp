#include "host/folder_lock.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "host/errors.h"

namespace {

std::string text_of_file(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 4711 fe:00:123456 0 EOF", the device
// as its major and minor number in hex, the inode in decimal. A waiter's line has "->" after
// the number: it holds nothing.
bool holds(const std::string& line, dev_t device, ino_t inode, pid_t& pid) {
  char kind[16], file[64];
  long holder = 0;
  if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %63s", kind, &holder, file) != 3)
    return false;
  unsigned major = 0, minor = 0;
  unsigned long long number = 0;
  if (std::string(kind) != "FLOCK" ||
      std::sscanf(file, "%x:%x:%llu", &major, &minor, &number) != 3)
    return false;
  if (makedev(major, minor) != device || number != inode) return false;
  pid = static_cast<pid_t>(holder);
  return true;
}

}  // namespace

pid_t flock_holder(const std::string& locks, dev_t device, ino_t inode) {
  std::istringstream lines(locks);
  for (std::string line; std::getline(lines, line);) {
    pid_t pid = 0;
    if (holds(line, device, inode, pid) && pid > 0) return pid;
  }
  return 0;
}

FolderLock::FolderLock(const std::string& path, const std::string& name) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  int locked;
  do locked = flock(fd, LOCK_EX | LOCK_NB);
  while (locked != 0 && errno == EINTR);
  if (locked == 0) {
    fd_ = fd;
    return;
  }
  const int error = errno;
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  close(fd);
  if (error != EWOULDBLOCK) return;  // no flock here (ENOLCK, EOPNOTSUPP, ...)
  const pid_t holder = known ? flock_holder(text_of_file("/proc/locks"), st.st_dev, st.st_ino) : 0;
  throw HostError("the result directory " + name + " is in use by another run" +
                  (holder > 0 ? " (pid " + std::to_string(holder) + ")" : std::string()));
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) close(fd_);
}

bool FolderLock::folder_removed() const {
  struct stat st;
  return fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_nlink == 0;
}
