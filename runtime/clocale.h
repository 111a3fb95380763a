// Formatting, scanning and character classes in the "C" locale, whatever locale the host
// process runs in. One locale object, created on first use and kept until the library is
// unloaded.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "runtime/output.h"

// The "C"-locale printers end in the platform runtime's formatting: msvcrt's _l functions, which
// take the Microsoft format, on Windows; the C library's elsewhere.
#if defined(_WIN32)
#define TAVELO_CLOCALE_PRINTF(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#else
#define TAVELO_CLOCALE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

int clocale_isalpha(int c);
int clocale_isdigit(int c);
int clocale_isspace(int c);
int clocale_toupper(int c);
int clocale_scan_int(const char* s, int32_t* value);
int clocale_scan_double(const char* s, double* value);

// Formats into buffer, which must hold the whole text. Prefer clocale_snprintf.
int clocale_sprintf(char* buffer, const char* format, ...) TAVELO_CLOCALE_PRINTF(2, 3);
// Bounded: writes at most size - 1 characters and always terminates (size > 0). Returns the
// length the whole text would have, like snprintf.
int clocale_snprintf(char* buffer, size_t size, const char* format, ...)
    TAVELO_CLOCALE_PRINTF(3, 4);
int clocale_vsnprintf(char* buffer, size_t size, const char* format, va_list args)
    TAVELO_CLOCALE_PRINTF(3, 0);
int clocale_fprintf(FILE* file, const char* format, ...) TAVELO_CLOCALE_PRINTF(2, 3);

// Bookkeeping tables: 2000 entries of 32 bytes, the first word owning a heap block.
struct RunTableEntry {
  void* block;
  unsigned char unused[32 - sizeof(void*)];
};
constexpr int RunTableSize = 2000;
extern RunTableEntry runTableA[RunTableSize];
extern RunTableEntry runTableB[RunTableSize];
extern int32_t runTableALast;
extern int32_t runTableBLast;
extern int32_t runFlagA;
extern int32_t runFlagB;

int32_t free_run_tables();
void reset_run_flags();
