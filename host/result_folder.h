// The result folder: where the model writes "dsres.mat". It is made when missing, locked
// against a second run and checked before the library is loaded; the run works in it.
#pragma once

#include <optional>
#include <string>

#include "host/folder_lock.h"

class ResultFolder {
 public:
  // The folder (empty: the current one), made as mkdir -p makes it and locked until this
  // object goes (after the model is freed and its rows read back), with the folder of the
  // target where "dsres.mat" is a symbolic link; "dsres.mat" must be one the model can create
  // or replace (no FIFO or socket, neither the standard output nor the error stream, in a
  // folder that is still there). Throws HostError naming the path and the reason, or the other
  // run that holds the folder.
  explicit ResultFolder(const std::string& directory);
  // The run works in the folder from now on.
  void enter();
  // The path of "dsres.mat", from the root, as it was when the folder was checked.
  const std::string& result_path() const { return path_; }
  // The folder was removed since it was locked.
  bool removed() const { return lock_->folder_removed(); }

 private:
  void lock_link_target();

  std::string directory_;
  std::string path_;
  std::optional<FolderLock> lock_;
  std::optional<FolderLock> targetLock_;
};

std::string current_directory();
