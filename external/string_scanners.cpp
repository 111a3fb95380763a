// Token scanners in the "C" locale. Positions are 1-based: position p is s[p - 1], and
// length + 1 is the terminating NUL. Number tokens are copied into a local buffer of 100
// characters for conversion; a longer token is refused before it is copied.
#include "external/string_scanners.h"

#include <cstring>

#include "runtime/clocale.h"
#include "source/matrixop.h"

namespace {

constexpr int32_t NumberBufferSize = 100;

// The character at position p, signed as the classification wrappers expect it (bytes from
// 128 up arrive negative and are neither letter, digit nor space).
int char_at(const char* s, int32_t p) { return static_cast<signed char>(s[p - 1]); }

// startIndex lies in 1 .. strlen(s) + 1; nothing past the position is read.
bool start_in_range(const char* s, int32_t startIndex) {
  if (startIndex < 1) return false;
  const size_t before = static_cast<size_t>(startIndex) - 1;
  return strnlen(s, before) == before;
}

bool is_sign(int c) { return c == '+' || c == '-'; }

// The value of d decimal digits fits in int32 (down to -2^31 when negative).
bool fits_int32(const char* digits, int32_t d, bool negative) {
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  for (int32_t i = 0; i < d; ++i) {
    value = value * 10 + (digits[i] - '0');
    if (value > limit) return false;
  }
  return true;
}

// The n characters of s from position t as a NUL-terminated number text (n < buffer size).
void copy_token(char (&buffer)[NumberBufferSize], const char* s, int32_t t, int32_t n) {
  std::memcpy(buffer, s + t - 1, static_cast<size_t>(n));
  buffer[n] = '\0';
}

// A new string holding the n characters of s from position t.
char* new_text(const char* s, int32_t t, int32_t n) {
  char* text = ModelicaAllocateString(static_cast<size_t>(n));
  std::memcpy(text, s + t - 1, static_cast<size_t>(n));
  text[n] = '\0';
  return text;
}

void fail_text(int32_t startIndex, int32_t* nextIndex, char** text) {
  *text = ModelicaAllocateString(0);
  *nextIndex = startIndex;
}

}  // namespace

int32_t strings_skip_white_space(const char* s, int32_t p) {
  while (char_at(s, p) != '\0' && clocale_isspace(char_at(s, p))) ++p;
  return p;
}

int32_t strings_count_digits(const char* s, int32_t p) {
  int32_t n = 0;
  while (char_at(s, p + n) != '\0' && clocale_isdigit(char_at(s, p + n))) ++n;
  return n;
}

void strings_scan_identifier(const char* s, int32_t startIndex, int32_t* nextIndex,
                             char** identifier) {
  if (!start_in_range(s, startIndex)) return fail_text(startIndex, nextIndex, identifier);
  const int32_t t = strings_skip_white_space(s, startIndex);
  if (!clocale_isalpha(char_at(s, t))) return fail_text(startIndex, nextIndex, identifier);
  int32_t n = 1;
  for (int c = char_at(s, t + n);
       c != '\0' && (clocale_isalpha(c) || clocale_isdigit(c) || c == '_'); c = char_at(s, t + n))
    ++n;
  *identifier = new_text(s, t, n);
  *nextIndex = t + n;
}

void strings_scan_integer(const char* s, int32_t startIndex, int32_t unsignedOnly,
                          int32_t* nextIndex, int32_t* number) {
  *nextIndex = startIndex;
  *number = 0;
  if (!start_in_range(s, startIndex)) return;
  const int32_t t = strings_skip_white_space(s, startIndex);
  const int32_t sign = is_sign(char_at(s, t)) ? 1 : 0;
  if (unsignedOnly != 0 && sign != 0) return;
  const int32_t d = strings_count_digits(s, t + sign);
  if (d <= 0 || sign + d >= NumberBufferSize) return;
  const int after = char_at(s, t + sign + d);
  if (after == '.' || after == 'e' || after == 'E') return;  // a real number
  if (!fits_int32(s + t + sign - 1, d, char_at(s, t) == '-')) return;
  char buffer[NumberBufferSize];
  copy_token(buffer, s, t, sign + d);
  int32_t value = 0;
  if (clocale_scan_int(buffer, &value) != 1) return;
  *number = value;
  *nextIndex = t + sign + d;
}

void strings_scan_real(const char* s, int32_t startIndex, int32_t unsignedOnly, int32_t* nextIndex,
                       double* number) {
  *nextIndex = startIndex;
  *number = 0.0;
  if (!start_in_range(s, startIndex)) return;
  const int32_t t = strings_skip_white_space(s, startIndex);
  int32_t k = 0;
  if (is_sign(char_at(s, t))) {
    if (unsignedOnly != 0) return;
    k = 1;
  }
  k += strings_count_digits(s, t + k);
  if (char_at(s, t + k) == '.') {
    ++k;
    k += strings_count_digits(s, t + k);
  }
  if (char_at(s, t + k) == 'e' || char_at(s, t + k) == 'E') {
    const int32_t e = is_sign(char_at(s, t + k + 1)) ? 2 : 1;
    const int32_t m = strings_count_digits(s, t + k + e);
    if (m == 0) return;
    k += e + m;
  }
  if (k <= 0 || k >= NumberBufferSize) return;
  char buffer[NumberBufferSize];
  copy_token(buffer, s, t, k);
  double value = 0.0;
  if (clocale_scan_double(buffer, &value) != 1) return;
  *number = value;
  *nextIndex = t + k;
}

void strings_scan_string(const char* s, int32_t startIndex, int32_t* nextIndex, char** text) {
  if (!start_in_range(s, startIndex)) return fail_text(startIndex, nextIndex, text);
  const int32_t t = strings_skip_white_space(s, startIndex);
  if (char_at(s, t) != '"') return fail_text(startIndex, nextIndex, text);
  int32_t j = t + 1;
  for (;;) {
    const int c = char_at(s, j);
    if (c == '\0') return fail_text(startIndex, nextIndex, text);  // no closing quote
    if (c == '"' && char_at(s, j - 1) != '\\') break;
    ++j;
  }
  const int32_t n = j - t - 1;
  if (n == 0) return fail_text(startIndex, nextIndex, text);
  *text = new_text(s, t + 1, n);
  *nextIndex = j + 1;
}

ScanTextResult ext_scan_identifier(const char* s, int32_t startIndex) {
  ScanTextResult result{};
  strings_scan_identifier(s, startIndex, &result.nextIndex, &result.text);
  return result;
}

ScanIntegerResult ext_scan_integer(const char* s, int32_t startIndex, int32_t unsignedOnly) {
  ScanIntegerResult result{};
  strings_scan_integer(s, startIndex, unsignedOnly, &result.nextIndex, &result.number);
  return result;
}

ScanRealResult ext_scan_real(const char* s, int32_t startIndex, int32_t unsignedOnly) {
  ScanRealResult result{};
  strings_scan_real(s, startIndex, unsignedOnly, &result.nextIndex, &result.number);
  return result;
}

ScanTextResult ext_scan_string(const char* s, int32_t startIndex) {
  ScanTextResult result{};
  strings_scan_string(s, startIndex, &result.nextIndex, &result.text);
  return result;
}
