// Reading line n of a text file, with the cache of the last file read. A line is read
// character by character into a small local buffer; a longer line is read again whole, from
// its start, directly into its string.
#include <cerrno>
#include <cstring>

#include "external/line_and_env.h"
#include "external/text_file.h"
#include "source/matrixop.h"

FILE* cachedFile = nullptr;
char cachedFileName[CachedFileNameSize];
int32_t cachedLineNumber = 0;

namespace {

constexpr size_t LocalLineSize = 200;

[[noreturn]] void read_failure(FILE* file, int32_t lineNumber, const char* fileName, int error) {
  std::fclose(file);
  ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName,
                      std::strerror(error));
}

char* end_of_file(FILE* file, int32_t* endOfFile) {
  std::fclose(file);
  *endOfFile = 1;
  return ModelicaAllocateString(0);
}

}  // namespace

FILE* open_file_at_line(const char* fileName, int32_t skip) {
  FILE* file;
  if (cachedFile != nullptr && skip != 0 && skip >= cachedLineNumber &&
      std::strncmp(fileName, cachedFileName, CachedFileNameSize) == 0) {
    file = cachedFile;
    cachedFile = nullptr;
    skip -= cachedLineNumber;
  } else {
    file = text_open(fileName);
    if (file == nullptr) {
      ModelicaFormatError("Not possible to open file \"%s\" for reading:\n%s\n", fileName,
                          std::strerror(errno));
    }
  }
  // A negative skip is not counted down: it reads to the end of the file.
  int c = 0;
  while (skip != 0 && c != EOF) {
    do {
      c = std::getc(file);
    } while (c != '\n' && c != EOF);
    if (skip > 0) --skip;
  }
  return file;
}

void cache_open_file(FILE* file, const char* fileName, int32_t lineNumber) {
  if (cachedFile != nullptr) {
    FILE* old = cachedFile;
    cachedFile = nullptr;
    std::fclose(old);
  }
  const size_t n = fileName != nullptr ? std::strlen(fileName) : 0;
  if (fileName != nullptr && n + 1 < CachedFileNameSize) {
    std::memcpy(cachedFileName, fileName, n + 1);
    cachedFile = file;
    cachedLineNumber = lineNumber;
  } else if (file != nullptr) {
    std::fclose(file);
  }
}

char* internal_read_line(const char* fileName, int32_t lineNumber, int32_t* endOfFile) {
  FILE* file = open_file_at_line(fileName, lineNumber >= 1 ? lineNumber - 1 : -1);
  // A read error while skipping is no missing line.
  if (std::ferror(file)) read_failure(file, lineNumber, fileName, errno);
  if (std::feof(file)) return end_of_file(file, endOfFile);

  fpos_t start;
  const bool startKnown = std::fgetpos(file, &start) == 0;
  const int startError = errno;
  char kept[LocalLineSize];
  size_t n = 0;
  int c;
  while ((c = text_getc(file)) != '\n' && c != EOF) {
    if (n < LocalLineSize) kept[n] = static_cast<char>(c);
    ++n;
  }
  if (c == EOF && std::ferror(file)) read_failure(file, lineNumber, fileName, errno);
  if (n == 0 && c == EOF) return end_of_file(file, endOfFile);

  char* s = ModelicaAllocateStringWithErrorReturn(n);
  if (s == nullptr) read_failure(file, lineNumber, fileName, ENOMEM);
  if (n <= LocalLineSize) {
    std::memcpy(s, kept, n);
  } else {
    if (!startKnown) read_failure(file, lineNumber, fileName, startError);
    if (std::fsetpos(file, &start) != 0) read_failure(file, lineNumber, fileName, errno);
    if (text_read(s, n, file) < n) read_failure(file, lineNumber, fileName, errno);
    text_getc(file);  // the line feed, or the end of the file
  }
  cache_open_file(file, fileName, lineNumber);
  s[n] = '\0';
  *endOfFile = 0;
  return s;
}

ReadLineResult ext_read_line(const char* fileName, int32_t lineNumber) {
  static char emptyLine[] = "";
  ReadLineResult result{emptyLine, 0};
  result.line = internal_read_line(fileName, lineNumber, &result.endOfFile);
  return result;
}
