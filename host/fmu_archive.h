// The FMU as an archive: its members read whole, each checked against its checksum, and the
// binary for this platform checked to be a shared library this machine can load.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct zip;

class FmuArchive {
 public:
  // Opens the archive, a regular file (never waiting on a FIFO); throws HostError when it is
  // none.
  explicit FmuArchive(const std::string& path);
  ~FmuArchive();
  FmuArchive(const FmuArchive&) = delete;
  FmuArchive& operator=(const FmuArchive&) = delete;

  const std::string& path() const { return path_; }

  // modelDescription.xml, whole.
  std::string model_description() const;
  // The binary of the model for this platform, binaries/linux64/<modelIdentifier>.so, whole,
  // and an ELF shared object of this machine that is not cut short.
  std::string binary(const std::string& modelIdentifier) const;
  // Where binary() finds it in the archive.
  static std::string binary_entry(const std::string& modelIdentifier);

  // Closes the archive's file once nothing more is read from it (the library loaded): its
  // descriptor, which libzip holds as a copy without close-on-exec, is not open in the
  // model's process while it runs, nor in any process the model starts. Reads after it fail.
  void close();

 private:
  // One member, read to its end, where libzip compares its checksum; at most limit bytes.
  std::string read(const std::string& name, uint64_t limit) const;

  std::string path_;
  struct Closer {
    void operator()(zip* archive) const;
  };
  std::unique_ptr<zip, Closer> archive_;
};
