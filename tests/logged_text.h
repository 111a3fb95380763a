// The text of a logger call: the message formatted with its arguments, as an FMI host prints it.
// Longer texts are cut to the buffer.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

inline std::string logged_text(const char* message, va_list args) {
  char text[16384];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::vsnprintf(text, sizeof text, message, args);
#pragma GCC diagnostic pop
  return text;
}
