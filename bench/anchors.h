// The anchors the library's figures are measured against, and the ratios the benchmark run
// reports at its end.
#pragma once

#include <cstdio>
#include <string>

// Names of the benchmarks that a ratio relates (as registered).
struct Ratio {
  const char* what;
  const char* numerator;
  const char* denominator;
  double target;  // 0: no target, reported for information
};

// The specified append of one result row of rowBytes bytes to an open file: fwrite of the row,
// fgetpos, fsetpos to the matrix header, fwrite of the 20-byte header, fsetpos back, fflush.
struct SpecifiedAppend {
  std::FILE* file = nullptr;
  std::fpos_t header{};
  unsigned char row[432] = {};
  unsigned char headerBytes[20] = {};
  bool open(const std::string& path, size_t bytesBefore);
  bool append();
  void close();
};
