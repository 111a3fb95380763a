// simplestring: the characters of strings that external functions return, and the Modelica
// utility functions for allocating them and for raising errors.
#include <cstdio>

#include "source/buffer_take.h"
#include "source/matrixop.h"

char simplestring[simplestringSize];
constinit char* const Endsimplestring = simplestring + simplestringSize;
constinit char* stringmark = simplestring;

namespace {

// stringmark + len + 1 < Endsimplestring, computed without forming a pointer past the end and
// without overflow for lengths near the size limit.
bool string_fits(size_t len) {
  const size_t left = static_cast<size_t>(Endsimplestring - stringmark);  // at least 1
  return len < left - 1;
}

}  // namespace

char* SimpleStringAlloc(size_t len) {
  if (!string_fits(len)) FailCheck("stringmark+len+1<Endsimplestring", "Room to allocate string");
  char* s = stringmark;
  stringmark += len + 1;
  return s;
}

char* ModelicaAllocateString(size_t len) {
  char* s = SimpleStringAlloc(len);
  s[0] = '\0';
  return s;
}

char* ModelicaAllocateStringWithErrorReturn(size_t len) {
  if (!string_fits(len)) return nullptr;
  return ModelicaAllocateString(len);
}

void ModelicaFormatError(const char* format, ...) {
  char message[4000];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  model_error(message);
}
