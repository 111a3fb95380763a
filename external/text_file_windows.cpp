// Text files on Windows. msvcrt's text mode counts positions wrongly in a file whose lines end
// in a bare line feed, so a line could not be found again at its fgetpos position. The file is
// read in binary mode instead, and a carriage return before a line feed is taken as part of
// the line end, as text mode takes it; a carriage return elsewhere stays.
#include "external/text_file.h"

FILE* text_open(const char* fileName) { return std::fopen(fileName, "rb"); }

int text_getc(FILE* file) {
  const int c = std::getc(file);
  if (c != '\r') return c;
  const int next = std::getc(file);
  if (next == '\n') return '\n';
  if (next != EOF) std::ungetc(next, file);
  return c;
}

size_t text_read(char* s, size_t n, FILE* file) {
  size_t k = 0;
  for (int c; k < n && (c = text_getc(file)) != EOF; ++k) s[k] = static_cast<char>(c);
  return k;
}
