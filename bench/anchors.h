// The anchors the library's figures are measured against, and the ratios the benchmark run
// reports at its end.
#pragma once

#include <cstdio>
#include <string>

// A benchmark's CPU time per iteration in a ratio's denominator, once or times a counter of
// the numerator's benchmark (how often its work does what the benchmark times).
struct Cost {
  const char* benchmark = nullptr;  // as registered
  const char* times = nullptr;      // the counter's name; none: once
  const char* what = nullptr;       // its name in the report of a sum; none: not reported
};

// A benchmark against the sum of the costs in its denominator (unused ones have no name).
struct Ratio {
  const char* what;
  const char* numerator;
  Cost denominator[3];
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
