// The result folder: where the model writes "dsres.mat". It is made when missing, locked
// against a second run and checked before the library is loaded; the run works in it;
// afterwards the rows of the file are read back when this run wrote it.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include <sys/types.h>

#include "host/folder_lock.h"

// The file the model writes its result into (Tavelo: every variable, a row per recorded time).
constexpr const char* ResultFileName = "dsres.mat";

// A file as stat sees it, to tell whether a run wrote it.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  off_t size = 0;
};
FileStamp stamp_of(const std::string& path);
// The file exists and is not the one, or not as it was, before.
bool written_since(const FileStamp& before, const FileStamp& now);

// The recorded times of a MAT version 4 result file: the column count of its matrix data_2
// (one column per time, one row per variable). Nothing for a file that holds no such matrix
// or whose headers do not fit the file.
std::optional<long> result_rows(const std::string& path);

// The rows of the result file, when this run wrote one.
struct ResultRows {
  std::string path;  // the result file, from the root
  bool written = false;
  // The file this run made was removed during the run: its rows are lost. Another file may
  // have its name now, or the folder went with it.
  enum class Removed { No, File, Replaced, WithFolder };
  Removed removed = Removed::No;
  std::optional<long> rows;  // nothing when the file does not read as a result file
  long expected = 0;         // the fewest rows the run should have left in it
  // The rows the file lacks (a full disk, a file-size limit), counted when this run wrote it
  // and it reads as a result file.
  long missing() const { return written && rows && *rows < expected ? expected - *rows : 0; }
  // Rows the run should have left are not in the file: the run failed.
  bool lost() const { return removed != Removed::No || missing() > 0; }
};

class ResultFolder {
 public:
  // The folder (empty: the current one), made as mkdir -p makes it and locked until this
  // object goes (after the model is freed and its rows read back), with the folder of the
  // target where "dsres.mat" is a symbolic link; "dsres.mat" must be one the model can create
  // or replace. Throws HostError naming the path and the reason, or the other run that holds
  // the folder.
  explicit ResultFolder(const std::string& directory);
  // The run works in the folder from now on.
  void enter();
  // The model is initialised: the file it made then is the run's result file.
  void note_result_file();
  // The rows of "dsres.mat" if the run wrote it since enter(), with the fewest it should hold;
  // whether the file noted was removed since.
  ResultRows rows(long expected) const;
  // The file's path, from the root, as it was when the folder was checked.
  const std::string& result_path() const { return path_; }

 private:
  void lock_link_target();

  std::string directory_;
  std::string path_;
  std::optional<FolderLock> lock_;
  std::optional<FolderLock> targetLock_;
  FileStamp before_;
  FileStamp made_;  // the file noted at the initialisation; none where the run made none
};

std::string current_directory();
