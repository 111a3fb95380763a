// The one path from the library to the host's logger.
#include <cstdarg>
#include <cstdio>

#include "fmi/model_instance.h"

namespace {

constexpr size_t MessageBufferSize = 4096;

// FMI 1.0 loggers read their message argument as a format: every "%" of the finished text is
// doubled, so such a logger prints it as it stands. out holds twice the text plus one.
void escape_percent(const char* text, char* out, size_t size) {
  size_t k = 0;
  for (const char* p = text; *p != '\0' && k + 1 < size; ++p) {
    if (*p == '%') {
      if (k + 2 >= size) break;
      out[k++] = '%';
    }
    out[k++] = *p;
  }
  out[k] = '\0';
}

}  // namespace

void log_status_message(ModelInstance* instance, const char* instanceName, const char* category,
                        fmiStatus status, const char* format, ...) {
  if (instance == nullptr || instance->logger == nullptr) return;  // no logger: dropped
  if (!instance->loggingOn && status < fmiError) return;           // suppressed: not formatted
  char text[MessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);  // at most 4095 characters, terminated
  va_end(args);
  char escaped[2 * MessageBufferSize];
  escape_percent(text, escaped, sizeof escaped);
  instance->logger(instance, instanceName, status, category, escaped);
}

void log_model_message(const char* text, int newline) {
  ModelInstance* instance = currentInstance;
  if (instance == nullptr) return;
  log_status_message(instance, instance->instanceName, "", fmiOK, newline ? "%s\n" : "%s", text);
}
