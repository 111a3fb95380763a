// Reading an environment variable into a model string.
#include <cstdlib>
#include <cstring>

#include "external/line_and_env.h"
#include "runtime/runtime_state.h"
#include "source/matrixop.h"

void backslash_to_slash(char* s) {
  for (; *s != '\0'; ++s) {
    if (*s == '\\') *s = '/';
  }
}

char* internal_getenv(const char* name, int32_t convertToSlash, int32_t* exist) {
  const char* value = std::getenv(name);
  if (value == nullptr) {
    char* empty = ModelicaAllocateString(0);
    *exist = 0;
    return empty;
  }
  const size_t n = std::strlen(value);
  char* s = ModelicaAllocateString(n);
  std::memcpy(s, value, n + 1);
  if (convertToSlash == 1) backslash_to_slash(s);
  *exist = 1;
  return s;
}

GetenvResult ModelicaInternal_getenv(const char* name, int32_t convertToSlash) {
  FunctionFrame frame{"ModelicaInternal_getenv", modelRuntime.functionStack};
  modelRuntime.functionStack = &frame;
  GetenvResult result{nullptr, 0};
  result.value = internal_getenv(name, convertToSlash, &result.exist);
  modelRuntime.functionStack = frame.next;
  return result;
}
