// What tavelo-sim reads back from the result file the model wrote: the count of its rows.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include <sys/types.h>

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
