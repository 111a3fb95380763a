// What differs between the platforms in the unit tests: a few services of the process
// (test_platform_posix.cpp, test_platform_windows.cpp), and expected texts as the platform's
// runtime prints them. Expectations are written as the C
// library of Linux prints; on Windows the "C"-locale printers end in msvcrt, which prints at
// least three exponent digits (1e-009, 2.5000000E+000: a padded field gives up one blank for
// the third digit) and infinity in %e as 1.#INF00e+000, and a text-mode file ends its lines with
// CR LF. Elsewhere the texts stand as written.
#pragma once

#include <cctype>
#include <string>

// Files the process holds open (descriptors, or file handles on Windows): a stream left open
// shows as one more.
int open_file_count();
// Sets an environment variable of the process (value null: removes it).
void set_environment(const char* name, const char* value);

#if defined(_WIN32)
constexpr bool OnWindows = true;
// msvcrt's environment holds no variable with an empty value: setting one removes it.
constexpr bool EmptyEnvironmentValues = false;
// Under wine every file creation is a round trip to the wine server: tens of thousands of files
// take minutes.
constexpr bool ManyFilesAreSlow = true;
constexpr const char* InfinityE = "1.#INF00e+000";
#else
constexpr bool OnWindows = false;
constexpr bool EmptyEnvironmentValues = true;
constexpr bool ManyFilesAreSlow = false;
constexpr const char* InfinityE = "inf";
#endif

// Numbers in text as the "C"-locale printers write them on this platform.
inline std::string c_locale_text(std::string text) {
  if (!OnWindows) return text;
  auto digit = [&](size_t i) { return i < text.size() && std::isdigit((unsigned char)text[i]); };
  for (size_t i = 1; i + 3 < text.size() + 1; ++i) {
    const bool exponent = (text[i] == 'e' || text[i] == 'E') && digit(i - 1) &&
                          (text[i + 1] == '+' || text[i + 1] == '-') && digit(i + 2) &&
                          digit(i + 3) && !digit(i + 4);
    if (!exponent) continue;
    text.insert(i + 2, "0");
    size_t start = i;
    while (start > 0 && (std::isdigit((unsigned char)text[start - 1]) || text[start - 1] == '.' ||
                         text[start - 1] == '-' || text[start - 1] == '+'))
      --start;
    if (start >= 2 && text[start - 1] == ' ' && text[start - 2] == ' ') {
      text.erase(start - 1, 1);
      --i;
    }
    i += 4;
  }
  return text;
}

// The bytes of a text-format file: numbers as above, lines ending in CR LF on Windows.
inline std::string text_file(std::string text) {
  text = c_locale_text(text);
  if (!OnWindows) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
