// Text files on POSIX systems: the bytes as they stand, a line ending at its line feed.
#include "external/text_file.h"

FILE* text_open(const char* fileName) { return std::fopen(fileName, "r"); }

int text_getc(FILE* file) { return std::getc(file); }

size_t text_read(char* s, size_t n, FILE* file) { return std::fread(s, 1, n, file); }
