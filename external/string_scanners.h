// Token scanners over a string for models: from a 1-based start position, skip white space
// and read an identifier, an integer, a real number or a double-quoted string; return the
// token and the position just after it. A scan that finds no such token is no error: it
// returns the start position unchanged with an empty text or 0. A start position outside
// 1 .. length + 1 finds nothing.
//
// Characters are classified and numbers converted in the "C" locale. Number tokens of 100
// characters or more, and integers beyond the int32 range, are not read.
#pragma once

#include <cstdint>

int32_t strings_skip_white_space(const char* s, int32_t p);
int32_t strings_count_digits(const char* s, int32_t p);

// A letter followed by letters, digits and underscores.
void strings_scan_identifier(const char* s, int32_t startIndex, int32_t* nextIndex,
                             char** identifier);
// Optional sign and digits, not followed by ".", "e" or "E". A nonzero unsignedOnly refuses a
// sign.
void strings_scan_integer(const char* s, int32_t startIndex, int32_t unsignedOnly,
                          int32_t* nextIndex, int32_t* number);
// Optional sign, digits, optional "." and digits, optional exponent with at least one digit.
void strings_scan_real(const char* s, int32_t startIndex, int32_t unsignedOnly, int32_t* nextIndex,
                       double* number);
// The characters between a double quote and the next double quote not preceded by a
// backslash, unchanged; an empty quoted string finds nothing.
void strings_scan_string(const char* s, int32_t startIndex, int32_t* nextIndex, char** text);

struct ScanIntegerResult {
  int32_t nextIndex;
  int32_t number;
};
struct ScanRealResult {
  int32_t nextIndex;
  alignas(8) double number;
};
struct ScanTextResult {
  int32_t nextIndex;
  char* text;
};

ScanTextResult ext_scan_identifier(const char* s, int32_t startIndex);
ScanIntegerResult ext_scan_integer(const char* s, int32_t startIndex, int32_t unsignedOnly);
ScanRealResult ext_scan_real(const char* s, int32_t startIndex, int32_t unsignedOnly);
ScanTextResult ext_scan_string(const char* s, int32_t startIndex);
