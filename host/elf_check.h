// Whether a file's bytes are a shared library that this machine's loader maps safely. glibc's
// loader trusts the headers of what it maps: a library cut short is mapped beyond the file's
// end and the process dies with SIGBUS while it relocates.
#pragma once

#include <string>

// Why the bytes cannot be such a library; empty when nothing shows it. The headers are read
// from the bytes in memory, every offset bounds-checked.
std::string elf_problem(const std::string& bytes);
