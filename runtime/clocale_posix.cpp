// "C"-locale wrappers over the POSIX locale functions: the classification wrappers take the
// locale object as an argument; formatting and scanning switch the calling thread to it with
// uselocale for the duration of the call. Without the object they work in the current locale.
#include <cctype>
#include <clocale>
#include <cstdarg>
#include <cstdio>

#include "runtime/clocale.h"
#include "runtime/clocale_platform.h"

CLocaleHandle clocale_create() {
  return newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
}

void clocale_release(CLocaleHandle handle) {
  if (handle != static_cast<locale_t>(0)) freelocale(handle);
}

namespace {

// Makes the "C" locale current for the calling thread while it lives (no-op without one).
struct CLocaleScope {
  locale_t previous = static_cast<locale_t>(0);
  CLocaleScope() {
    if (locale_t c = clocale_handle()) previous = uselocale(c);
  }
  ~CLocaleScope() {
    if (previous) uselocale(previous);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;
};

// The classification wrappers take -1 (end of input) and 0..255; bytes that arrive as negative
// chars are neither letter, digit nor space, as in the "C" locale.
bool outside_table(int c) { return c < 0 || c > 255; }

}  // namespace

int clocale_isalpha(int c) {
  locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? isalpha_l(c, loc) : std::isalpha(c);
}

int clocale_isdigit(int c) {
  locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? isdigit_l(c, loc) : std::isdigit(c);
}

int clocale_isspace(int c) {
  locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? isspace_l(c, loc) : std::isspace(c);
}

int clocale_toupper(int c) {
  locale_t loc = clocale_handle();
  if (outside_table(c)) return c;
  return loc ? toupper_l(c, loc) : std::toupper(c);
}

int clocale_scan_int(const char* s, int32_t* value) {
  CLocaleScope scope;
  int v = 0;
  int n = std::sscanf(s, " %d", &v);
  if (n == 1) *value = static_cast<int32_t>(v);
  return n;
}

int clocale_scan_double(const char* s, double* value) {
  CLocaleScope scope;
  return std::sscanf(s, " %lg", value);
}

int clocale_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
  CLocaleScope scope;
  return std::vsnprintf(buffer, size, format, args);
}

int clocale_snprintf(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = clocale_vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

int clocale_sprintf(char* buffer, const char* format, ...) {
  CLocaleScope scope;
  va_list args;
  va_start(args, format);
  int n = std::vsprintf(buffer, format, args);
  va_end(args);
  return n;
}

int clocale_fprintf(FILE* file, const char* format, ...) {
  CLocaleScope scope;
  va_list args;
  va_start(args, format);
  int n = std::vfprintf(file, format, args);
  va_end(args);
  return n;
}
