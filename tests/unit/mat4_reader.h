// A small independent reader of MAT version 4 files for the tests: parses every matrix
// (header type, mrows, ncols, imagf, namlen; name; elements), and rejects a file whose
// headers or sizes do not add up. Plus a scratch directory for test files.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mat4 {

struct Matrix {
  int32_t type = 0, mrows = 0, ncols = 0, imagf = 0, namlen = 0;
  std::string name;
  std::vector<unsigned char> bytes;  // the elements as stored, column-major
  size_t offset = 0;                 // where the header starts in the file

  int precision() const { return (type / 10) % 10; }
  bool text() const { return type % 10 == 1; }
  size_t element_size() const {
    static const size_t sizes[] = {8, 4, 4, 2, 2, 1};
    return sizes[precision()];
  }
  // Element (i, j) converted to double.
  double number(int32_t i, int32_t j) const {
    const unsigned char* p = bytes.data() + (static_cast<size_t>(j) * mrows + i) * element_size();
    switch (precision()) {
      case 0: { double v; std::memcpy(&v, p, 8); return v; }
      case 1: { float v; std::memcpy(&v, p, 4); return v; }
      case 2: { int32_t v; std::memcpy(&v, p, 4); return v; }
      case 3: { int16_t v; std::memcpy(&v, p, 2); return v; }
      case 4: { uint16_t v; std::memcpy(&v, p, 2); return v; }
      default: return p[0];
    }
  }
  // Text matrices: string i of a matrix that holds one string per row (mrows strings) or per
  // column (transposed: ncols strings), up to its first NUL; trailing pad is kept.
  std::string row_string(int32_t i) const {
    std::string s;
    for (int32_t j = 0; j < ncols; ++j) {
      char c = static_cast<char>(bytes[static_cast<size_t>(j) * mrows + i]);
      if (!c) break;
      s += c;
    }
    return s;
  }
  std::string column_string(int32_t j) const {
    std::string s(reinterpret_cast<const char*>(bytes.data()) + static_cast<size_t>(j) * mrows,
                  static_cast<size_t>(mrows));
    return s.substr(0, s.find('\0'));
  }
};

struct File {
  bool ok = false;
  std::string error;
  // Bytes after the growing last matrix that belong to no row its header counts (a row whose
  // append was cut short: at most one row); only when parse was told which matrix grows.
  size_t trailingBytes = 0;
  std::vector<Matrix> matrices;
  const Matrix* find(const std::string& name) const {
    for (const Matrix& m : matrices)
      if (m.name == name) return &m;
    return nullptr;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const Matrix& m : matrices) out.push_back(m.name);
    return out;
  }
};

inline int32_t le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(b[at + k]);
  return static_cast<int32_t>(v);
}

// Parses every matrix. With growingLast, the matrix of that name ends the file: the bytes
// after the rows its header counts, at most one row of it (mrows elements), are reported as
// trailingBytes and skipped. Bytes anywhere else, or more of them, make the file unreadable.
inline File parse(const std::string& b, const char* growingLast = nullptr) {
  File f;
  size_t at = 0;
  while (at < b.size()) {
    if (growingLast != nullptr && !f.matrices.empty() && f.matrices.back().name == growingLast) {
      const Matrix& last = f.matrices.back();
      if (b.size() - at > static_cast<size_t>(last.mrows) * last.element_size())
        return f.error = "more than a row after the rows " + last.name + " counts", f;
      f.trailingBytes = b.size() - at;
      break;
    }
    if (b.size() - at < 20) return f.error = "truncated header", f;
    Matrix m;
    m.offset = at;
    m.type = le32(b, at);
    m.mrows = le32(b, at + 4);
    m.ncols = le32(b, at + 8);
    m.imagf = le32(b, at + 12);
    m.namlen = le32(b, at + 16);
    at += 20;
    int mopt = m.type;
    if (mopt < 0 || mopt / 1000 != 0 || (mopt / 100) % 10 != 0 || m.precision() > 5 ||
        mopt % 10 > 1)
      return f.error = "bad type " + std::to_string(mopt), f;
    if (m.mrows < 0 || m.ncols < 0 || (m.imagf != 0 && m.imagf != 1) || m.namlen < 1)
      return f.error = "bad header", f;
    if (b.size() - at < static_cast<size_t>(m.namlen)) return f.error = "truncated name", f;
    if (b[at + m.namlen - 1] != '\0') return f.error = "name without NUL", f;
    m.name = b.substr(at, static_cast<size_t>(m.namlen) - 1);
    at += static_cast<size_t>(m.namlen);
    size_t n = static_cast<size_t>(m.mrows) * static_cast<size_t>(m.ncols) * m.element_size() *
               (m.imagf ? 2 : 1);
    if (b.size() - at < n) return f.error = "truncated data of " + m.name, f;
    m.bytes.assign(b.begin() + static_cast<std::ptrdiff_t>(at),
                   b.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    f.matrices.push_back(std::move(m));
  }
  f.ok = true;
  return f;
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline File read(const std::string& path, const char* growingLast = nullptr) {
  return parse(slurp(path), growingLast);
}

// A fresh directory for test files under $TAVELO_TEST_TMP (or the system's temporary
// directory), removed with its files when the object goes.
// A new directory below TAVELO_TEST_TMP (else the system's temporary directory) whose name
// starts with prefix; the empty string when none could be made. Tests run in parallel
// processes: the name takes a number that no existing directory has.
inline std::string make_unique_directory(const std::string& prefix) {
  std::error_code ec;
  const char* base = std::getenv("TAVELO_TEST_TMP");
  std::filesystem::path root = base && base[0] ? base : std::filesystem::temp_directory_path(ec);
  std::filesystem::create_directories(root, ec);
  static unsigned counter = 0;
  const auto seed = static_cast<unsigned long long>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::filesystem::path p = root / (prefix + std::to_string(seed % 1000000007ULL) + "-" +
                                            std::to_string(counter++));
    if (std::filesystem::create_directory(p, ec)) return p.generic_string();
  }
  return "";
}

class ScratchDirectory {
 public:
  ScratchDirectory() : path_(make_unique_directory("mat")) {}
  ~ScratchDirectory() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  bool ok() const { return !path_.empty(); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Little-endian bytes of a header, and of element values, for byte-exact expectations.
inline std::string header(int32_t type, int32_t mrows, int32_t ncols, int32_t imagf,
                          int32_t namlen) {
  std::string out;
  for (int32_t w : {type, mrows, ncols, imagf, namlen}) out.append(reinterpret_cast<char*>(&w), 4);
  return out;
}
template <typename T>
std::string bytes_of(std::initializer_list<T> values) {
  std::string out;
  for (T v : values) out.append(reinterpret_cast<const char*>(&v), sizeof v);
  return out;
}

}  // namespace mat4
