// "C"-locale wrappers over the Windows runtime (msvcrt.dll): its _l functions take the locale
// object as an argument and use the current locale when it is null. msvcrt.dll exports
// _create_locale and _free_locale, but not every import library lists them, so both are looked
// up in the loaded msvcrt.dll at run time; where they are missing the object is null.
#include <windows.h>

#include <cctype>
#include <clocale>
#include <cstdarg>
#include <cstdio>

#include "runtime/clocale.h"
#include "runtime/clocale_platform.h"

namespace {

using CreateLocale = _locale_t(__cdecl*)(int category, const char* name);
using FreeLocale = void(__cdecl*)(_locale_t handle);

template <typename Function>
Function msvcrt_function(const char* name) {
  HMODULE msvcrt = GetModuleHandleA("msvcrt.dll");
  FARPROC address = msvcrt ? GetProcAddress(msvcrt, name) : nullptr;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The classification wrappers take -1 (end of input) and 0..255; bytes that arrive as negative
// chars are neither letter, digit nor space, as in the "C" locale.
bool outside_table(int c) { return c < 0 || c > 255; }

}  // namespace

CLocaleHandle clocale_create() {
  auto create = msvcrt_function<CreateLocale>("_create_locale");
  return create ? create(LC_ALL, "C") : nullptr;
}

void clocale_release(CLocaleHandle handle) {
  auto release = msvcrt_function<FreeLocale>("_free_locale");
  if (handle != nullptr && release != nullptr) release(handle);
}

int clocale_isalpha(int c) {
  _locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? _isalpha_l(c, loc) : std::isalpha(c);
}

int clocale_isdigit(int c) {
  _locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? _isdigit_l(c, loc) : std::isdigit(c);
}

int clocale_isspace(int c) {
  _locale_t loc = clocale_handle();
  if (outside_table(c)) return 0;
  return loc ? _isspace_l(c, loc) : std::isspace(c);
}

int clocale_toupper(int c) {
  _locale_t loc = clocale_handle();
  if (outside_table(c)) return c;
  return loc ? _toupper_l(c, loc) : std::toupper(c);
}

// msvcrt's scanners answer 0, not EOF, for a text that ends before the first field (nothing but
// white space); the wrappers give the end-of-input value the C standard's scanners give.
static bool only_white_space(const char* s) {
  while (*s != '\0' && clocale_isspace(static_cast<unsigned char>(*s))) ++s;
  return *s == '\0';
}

int clocale_scan_int(const char* s, int32_t* value) {
  _locale_t loc = clocale_handle();
  if (only_white_space(s)) return EOF;
  int v = 0;
  int n = _sscanf_l(s, " %d", loc, &v);
  if (n == 1) *value = static_cast<int32_t>(v);
  return n;
}

int clocale_scan_double(const char* s, double* value) {
  _locale_t loc = clocale_handle();
  if (only_white_space(s)) return EOF;
  return _sscanf_l(s, " %lg", loc, value);
}

// _vsnprintf_l writes at most its count of characters and, when the text is longer, returns -1
// without a terminating NUL; a text of exactly the count is not terminated either. So it gets
// one character less than the buffer, the last character is always the terminator, and the
// full length of a cut text comes from _vscprintf_l, as snprintf reports it.
int clocale_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
  _locale_t loc = clocale_handle();
  va_list again;
  va_copy(again, args);
  int n;
  if (size == 0) {
    n = _vscprintf_l(format, loc, again);
  } else {
    n = _vsnprintf_l(buffer, size - 1, format, loc, args);
    buffer[size - 1] = '\0';
    if (n < 0) n = _vscprintf_l(format, loc, again);
  }
  va_end(again);
  return n;
}

int clocale_snprintf(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = clocale_vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

int clocale_sprintf(char* buffer, const char* format, ...) {
  _locale_t loc = clocale_handle();
  va_list args;
  va_start(args, format);
  int n = _vsprintf_l(buffer, format, loc, args);
  va_end(args);
  return n;
}

int clocale_fprintf(FILE* file, const char* format, ...) {
  _locale_t loc = clocale_handle();
  va_list args;
  va_start(args, format);
  int n = _vfprintf_l(file, format, loc, args);
  va_end(args);
  return n;
}
