// Reading a text file as the line reader needs it: lines end in a line feed, and positions
// taken with fgetpos at a line's start lead back to that start. One implementation per
// platform (text_file_posix.cpp, text_file_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdio>

// Opens fileName for reading as text; null with errno set on failure.
FILE* text_open(const char* fileName);
// The next character of the text (a line end reads as '\n'), or EOF.
int text_getc(FILE* file);
// Reads up to n characters of the text into s; returns how many it read.
size_t text_read(char* s, size_t n, FILE* file);
