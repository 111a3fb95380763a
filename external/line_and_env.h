// Reading line n of a text file, and reading an environment variable, for models.
//
// The line reader keeps the file of its last successful read open, positioned after that
// line, so that reading a file line by line does not rescan it from the start for each line.
// Returned strings live in simplestring until the next end_equation_reset; failures are model
// errors.
#pragma once

#include <cstdint>
#include <cstdio>

// The line cache (process-wide). The file stays open until another read replaces it or the
// process ends.
constexpr int CachedFileNameSize = 300;
extern FILE* cachedFile;                         // file of the last successful read, or null
extern char cachedFileName[CachedFileNameSize];  // the name it was opened under
extern int32_t cachedLineNumber;                 // the line last read from it

// fileName positioned after skip lines: the cached file when it is that file and at or before
// that line (skip not 0), otherwise the file opened anew. A negative skip reads to the end.
FILE* open_file_at_line(const char* fileName, int32_t skip);
// Closes the cached file and caches file in its place when fileName fits the cache (at most
// 298 characters); otherwise closes file too. Null arguments just empty the cache.
void cache_open_file(FILE* file, const char* fileName, int32_t lineNumber);
// Line lineNumber (from 1) of fileName without its line end; *endOfFile is 1 (and the result
// empty) when the file has no such line.
char* internal_read_line(const char* fileName, int32_t lineNumber, int32_t* endOfFile);

struct ReadLineResult {
  char* line;
  int32_t endOfFile;
};
ReadLineResult ext_read_line(const char* fileName, int32_t lineNumber);

// The value of environment variable name (*exist = 1), with backslashes turned into slashes
// when convertToSlash is 1; the empty string and *exist = 0 when it is not set.
char* internal_getenv(const char* name, int32_t convertToSlash, int32_t* exist);
void backslash_to_slash(char* s);

struct GetenvResult {
  char* value;
  int32_t exist;
};
// internal_getenv under a function frame of its own name, so an error inside names it.
GetenvResult ModelicaInternal_getenv(const char* name, int32_t convertToSlash);
