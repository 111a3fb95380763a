// Test fixture of the line reader: reads through ext_read_line and helpers for expected lines
// and messages.
#pragma once

#include <ostream>
#include <string>

#include "external_fixture.h"

class ReadLineTest : public ExternalTest {
 protected:
  struct Line {
    std::string text;
    int32_t endOfFile;
    bool operator==(const Line&) const = default;
  };
  friend std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << '"' << l.text << "\" eof " << l.endOfFile;
  }

  static Line read(const std::string& path, int32_t n) {
    ReadLineResult r = ext_read_line(path.c_str(), n);
    return {r.line, r.endOfFile};
  }

  // A line of n characters that differ along the line, so a shifted read shows.
  static std::string line_of(size_t n, char first) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 23);
    return s;
  }

  // The message of a read failure.
  static std::string read_failure(int32_t n, const std::string& path, const char* text) {
    return "Error when reading line " + std::to_string(n) + " from file\n\"" + path + "\":\n" +
           text;
  }

  std::string abc() { return write_file("abc.txt", "alpha\nbeta\ngamma"); }
};
