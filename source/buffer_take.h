// Internal to the array runtime: taking elements from the four array buffers, and a failed
// check that never returns.
#pragma once

#include <cstdint>

// Each takes k elements at currentMark.place of its buffer and returns their start. A request
// that is negative or does not fit what is left (a buffer of N elements holds at most N - 1)
// fails the buffer's check before any pointer is formed; the place is then left at the end
// pointer, so every later request from that buffer fails until a mark moves it back.
double* TakeReals(int64_t k);
int32_t* TakeIntegers(int64_t k);
int32_t* TakeSizes(int64_t k);
char** TakeStrings(int64_t k);

// model_assert with a false condition: logs the condition text and raises the message.
[[noreturn]] void FailCheck(const char* conditionText, const char* message);
