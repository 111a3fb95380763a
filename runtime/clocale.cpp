// "C"-locale wrappers over glibc: one locale object made on first use; formatting and scanning
// switch the calling thread to it with uselocale for the duration of the call. When the object
// cannot be made, everything works in the current locale.
#include "runtime/clocale.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <locale.h>

int32_t clocalePending = 1;
locale_t clocaleHandle = static_cast<locale_t>(0);

RunTableEntry runTableA[RunTableSize];
RunTableEntry runTableB[RunTableSize];
int32_t runTableALast = -1;
int32_t runTableBLast = -1;
int32_t runFlagA = 1;
int32_t runFlagB = 0;

namespace {

locale_t c_locale() {
  if (clocalePending) {
    clocaleHandle = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  }
  clocalePending = 0;  // never tried again, also after a failure
  return clocaleHandle;
}

// Makes the "C" locale current for the calling thread while it lives (no-op without one).
struct CLocaleScope {
  locale_t previous = static_cast<locale_t>(0);
  CLocaleScope() {
    if (locale_t c = c_locale()) previous = uselocale(c);
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
  locale_t loc = c_locale();
  if (outside_table(c)) return 0;
  return loc ? isalpha_l(c, loc) : std::isalpha(c);
}

int clocale_isdigit(int c) {
  locale_t loc = c_locale();
  if (outside_table(c)) return 0;
  return loc ? isdigit_l(c, loc) : std::isdigit(c);
}

int clocale_isspace(int c) {
  locale_t loc = c_locale();
  if (outside_table(c)) return 0;
  return loc ? isspace_l(c, loc) : std::isspace(c);
}

int clocale_toupper(int c) {
  locale_t loc = c_locale();
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

int32_t free_run_tables() {
  for (int32_t i = 0; i <= runTableALast; ++i) std::free(runTableA[i].block);
  for (int32_t i = 0; i <= runTableBLast; ++i) std::free(runTableB[i].block);
  runTableALast = -1;
  runTableBLast = -1;
  return -1;
}

void reset_run_flags() {
  runFlagA = 0;
  runFlagB = 0;
}
