// Cutting the file under an output stream to a given length: the one platform step of taking
// back a row whose append failed. One implementation per platform (file_cut_posix.cpp over
// ftruncate, file_cut_windows.cpp over _chsize_s).
#pragma once

#include <cstdint>
#include <cstdio>

// Sets the length of the file that fp writes to length bytes. The stream must hold no unwritten
// bytes; its position is left to the caller. False with errno set when the file cannot be cut.
bool file_cut(FILE* fp, int64_t length);
