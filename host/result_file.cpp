#include "host/result_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include <sys/stat.h>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Bytes per element by the precision digit P of the type MOPT: double, float, int32, int16,
// uint16, uint8.
constexpr int64_t ElementSize[] = {8, 4, 4, 2, 2, 1};

int32_t little_endian32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 |
                              static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

FileStamp stamp_of(const std::string& path) {
  FileStamp s;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.modified = st.st_mtim;
  s.size = st.st_size;
  return s;
}

bool written_since(const FileStamp& before, const FileStamp& now) {
  if (!now.exists) return false;
  return !before.exists || before.device != now.device || before.inode != now.inode ||
         before.size != now.size || before.modified.tv_sec != now.modified.tv_sec ||
         before.modified.tv_nsec != now.modified.tv_nsec;
}

std::optional<long> rows_in(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  struct stat st;
  if (fstat(fileno(file.get()), &st) != 0) return std::nullopt;
  const int64_t size = st.st_size;
  int64_t at = 0;
  // Each matrix: type, mrows, ncols, imagf, namlen (int32, little-endian), the name with its
  // NUL, then the elements (twice as many with an imaginary part).
  while (at + 20 <= size) {
    unsigned char header[20];
    if (fseeko(file.get(), static_cast<off_t>(at), SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header)
      return std::nullopt;
    const int32_t type = little_endian32(header), mrows = little_endian32(header + 4),
                  ncols = little_endian32(header + 8), imagf = little_endian32(header + 12),
                  namlen = little_endian32(header + 16);
    // Little-endian IEEE (M = 0), O = 0, a known precision, full, text or sparse.
    if (type < 0 || type >= 100 || type / 10 > 5 || type % 10 > 2 ||
        mrows < 0 || ncols < 0 || (imagf != 0 && imagf != 1) || namlen < 1 || namlen > 4096)
      return std::nullopt;
    std::string name(static_cast<size_t>(namlen), '\0');
    if (at + 20 + namlen > size ||
        std::fread(name.data(), 1, name.size(), file.get()) != name.size() || name.back() != '\0')
      return std::nullopt;
    name.pop_back();
    const int64_t data = int64_t{mrows} * ncols * ElementSize[type / 10] * (1 + imagf);
    at += 20 + namlen + data;
    if (at > size) return std::nullopt;
    if (name == "data_2") return ncols;
  }
  return std::nullopt;
}

ResultFile::ResultFile(std::string path)
    : path_(std::move(path)), before_(stamp_of(ResultFileName)) {}

void ResultFile::note_made() {
  const FileStamp now = stamp_of(ResultFileName);
  if (written_since(before_, now)) made_ = now;
}

ResultRows ResultFile::read_back(const ExpectedRows& expected, bool folderRemoved) const {
  ResultRows r;
  r.path = path_;
  const FileStamp now = stamp_of(ResultFileName);
  if (made_.exists) {
    if (folderRemoved)
      r.removed = ResultRows::Removed::WithFolder;
    else if (!now.exists)
      r.removed = ResultRows::Removed::File;
    else if (now.device != made_.device || now.inode != made_.inode)
      r.removed = ResultRows::Removed::Replaced;
  }
  r.written = r.removed == ResultRows::Removed::No && written_since(before_, now);
  if (r.written) r.rows = rows_in(ResultFileName);
  r.expected = expected.count();
  return r;
}
