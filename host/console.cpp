#include "host/console.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "host/numbers.h"
#include "host/signals.h"

namespace {

// The error of the first write that failed on each stream, 0 while none has.
int outError = 0;
int errError = 0;

void note(int result, int& error) {
  if (result >= 0) return;
  const int why = errno;
  if (error == 0) error = why != 0 ? why : EIO;
  if (why == EPIPE) interrupt_by_closed_pipe();
}

// A progress line is on the terminal of the standard error stream.
bool progressShown = false;

void print(FILE* stream, int& error, const char* format, va_list args) {
  if (stream == stderr) clear_progress();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  note(std::vfprintf(stream, format, args), error);
#pragma GCC diagnostic pop
}

// The line that tells of output lost on one stream, on the other one.
void report_loss(const char* lost, int why, FILE* other, int& otherError) {
  note(std::fprintf(other, "tavelo-sim: output was lost: writing to the %s failed (%s)\n", lost,
                    std::strerror(why)),
       otherError);
  note(std::fflush(other), otherError);
}

// The columns the progress line may take: one less than the terminal's width, so that no
// character lands in the last column, after which some terminals wrap at once. Asked at each
// redraw, so that a resized terminal is followed; no bound where the terminal tells no width.
int progress_columns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return INT_MAX;
  return size.ws_col - 1;
}

}  // namespace

bool open_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDWR);  // the lowest free descriptor: fd
    if (null < 0) return false;
    if (null != fd) {
      const bool moved = dup2(null, fd) == fd;
      close(null);
      if (!moved) return false;
    }
  }
  return true;
}

void print_out(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  print(stdout, outError, format, args);
  va_end(args);
}

void print_err(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  print(stderr, errError, format, args);
  va_end(args);
  note(std::fflush(stderr), errError);
}

void flush_out() noexcept { note(std::fflush(stdout), outError); }

void print_progress(const char* format, ...) noexcept {
  progressShown = false;  // the line is redrawn over itself, not wiped
  va_list args;
  va_start(args, format);
  print(stderr, errError, format, args);
  va_end(args);
  note(std::fflush(stderr), errError);
  progressShown = true;
}

void clear_progress() noexcept {
  if (!progressShown) return;
  progressShown = false;
  note(std::fputs("\r\033[K", stderr), errError);
  note(std::fflush(stderr), errError);
}

int finish_console(int status) {
  flush_out();
  const int lostOut = outError, lostErr = errError;
  if (lostOut != 0) report_loss("standard output", lostOut, stderr, errError);
  if (lostErr != 0) report_loss("standard error stream", lostErr, stdout, outError);
  return status == 0 && (lostOut != 0 || lostErr != 0) ? 1 : status;
}

ProgressLine::ProgressLine(bool enabled, double start, double stop)
    : enabled_(enabled && isatty(STDERR_FILENO)),
      start_(start),
      stop_(stop),
      of_(" of " + summary_seconds_text(stop)) {}

ProgressLine::Time ProgressLine::now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

void ProgressLine::update(double t) {
  if (!enabled_) return;
  const Time time = now();
  if (time - begin_ < std::chrono::seconds(1) || time - last_ < std::chrono::milliseconds(100))
    return;
  last_ = time;
  // Within the terminal's width, so that it never wraps onto a row the next redraw misses;
  // the rest of the row is erased, where a longer text before it would show through.
  const std::string shown = text(t, progress_columns());
  print_progress("\r%s\033[K", shown.c_str());
}

std::string ProgressLine::text(double t, int columns) const {
  char field[64];
  std::snprintf(field, sizeof field, "t = %.3f s", t);
  const std::string at = field;
  std::snprintf(field, sizeof field, " (%3.0f %%)", 100.0 * (t - start_) / (stop_ - start_));
  const std::string percent = field;
  // Whole fields left out where the text does not fit, never a part of one ("( 9" would read
  // as 9 % at 96 %): the name first, then the stop time, then the percentage. Only t itself is
  // cut, where it alone does not fit.
  const std::string texts[] = {"tavelo-sim: " + at + of_ + percent, at + of_ + percent,
                               at + percent, at};
  for (const std::string& text : texts)
    if (static_cast<int>(text.size()) <= columns) return text;
  return at.substr(0, static_cast<size_t>(columns));
}

void ProgressLine::clear() {
  if (enabled_) clear_progress();
}
