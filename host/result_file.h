// What the host knows of the model's result file "dsres.mat": its name; the rows a run should
// leave in it; whether this run wrote it, by its stamp; and its rows, read back once the model
// is freed. The library records a row at the initialisation and one at each completed step
// that ends within 1e-7 s of a whole millisecond (later than its last); the host completes a
// step at every output point. Events and other steps in such a window add rows, never fewer.
#pragma once

#include <cmath>
#include <ctime>
#include <optional>
#include <string>

#include <sys/types.h>

// The file the model writes its result into (Tavelo: every variable, a row per recorded time).
constexpr const char* ResultFileName = "dsres.mat";

// Whether a step completed at t lies in the library's window of a whole millisecond (a point
// of the grid far from 0, or a stop time snapped to a point, can lie outside it). Asked at
// every output point: inline.
inline bool in_row_window(double t) {
  return std::fabs(1000.0 * t - std::floor(1000.0 * t + 0.5)) < 1e-4;
}

// The rows a run should leave in the file at the least, counted as it goes: the
// initialisation's and one per output point in the row window; none before the model is
// instantiated.
class ExpectedRows {
 public:
  void initialisation() { count_ = 1; }
  // Asked at every output point: inline.
  void output_point(double t) {
    if (in_row_window(t)) ++count_;
  }
  long count() const { return count_; }

 private:
  long count_ = 0;
};

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
std::optional<long> rows_in(const std::string& path);

// The rows of the result file after a run.
struct ResultRows {
  std::string path;  // the result file, from the root
  bool written = false;
  // The file this run made was removed or renamed during the run: "dsres.mat" does not hold
  // its rows (lost with a removed file). Another file may have its name now, or its folder was
  // removed.
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

// The result file of a run in the current folder, the result folder.
class ResultFile {
 public:
  // Stamps what is there before the run; path is the file from the root, for messages.
  explicit ResultFile(std::string path);
  // The model is initialised: the file it made then is the run's result file.
  void note_made();
  // The rows of the file read back if the run wrote it, with the fewest it should hold;
  // whether the file noted was removed since (folderRemoved: with its folder).
  ResultRows read_back(const ExpectedRows& expected, bool folderRemoved) const;

 private:
  std::string path_;
  FileStamp before_;
  FileStamp made_;  // the file noted at the initialisation; none where the run made none
};
