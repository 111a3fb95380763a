// The scratch folder the FMU's binary is unpacked into, since the loader needs a file:
// <TMPDIR>/tavelo-sim-<pid>-XXXXXX (/tmp without TMPDIR), removed again once the library is
// loaded. The pid tells a later run whether the folder's process is gone (killed, or crashed in
// a library's constructor) and left it behind; such folders are removed first.
#pragma once

#include <string>

class ScratchFile {
 public:
  // Makes the folder for a file of that name; throws HostError when it cannot.
  explicit ScratchFile(const std::string& name);
  // Removes the file and the folder.
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }
  // Writes the file; why it could not, or nothing.
  std::string write(const std::string& bytes) const;
  // Why no library loads from the folder, for a loader that failed: its file system is
  // mounted noexec (the loader says only that it failed to map a segment); or nothing.
  std::string load_problem() const;

 private:
  std::string folder_;
  std::string path_;
};
