// The lock of a result folder: one run at a time writes "dsres.mat" there. It is a flock on
// the folder itself, so it leaves no file behind, holds for every path to the folder (a link,
// "a/../a") and dies with its process, also one killed with SIGKILL.
#pragma once

#include <string>

#include <sys/types.h>

class FolderLock {
 public:
  // Locks the folder at path; name is the folder as the user gave it, for the message. Throws
  // HostError when another process holds the lock, naming that process where /proc/locks
  // shows it. A folder that cannot be opened for reading, or a file system that takes no
  // flock, leaves the run without a lock: the run goes on as it would without one.
  FolderLock(const std::string& path, const std::string& name);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool held() const { return fd_ >= 0; }
  // The folder was removed since it was locked (its descriptor keeps it). False where the
  // lock is not held.
  bool folder_removed() const;

 private:
  int fd_ = -1;
};

// The process that holds a flock on the file of that device and inode, by the text of
// /proc/locks; 0 where it shows none.
pid_t flock_holder(const std::string& locks, dev_t device, ino_t inode);
