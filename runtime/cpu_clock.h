// Processor time with a wrap-safe tick count: ticks of 1 ms, read as a 32-bit count that wraps
// modulo 2^32, made continuous by adding 2^32 at every wrap.
#pragma once

#include <cstdint>
#include <ctime>

using CpuClockHook = double (*)(double* mark, int mode);

// Process-wide, zero at load.
struct CpuClockState {
  int32_t lastTicks = 0;             // the last successful tick reading
  double wrapOffset = 0.0;           // 2^32 per wrap seen
  CpuClockHook clockHook = nullptr;  // when set, cpu_timer hands every call to it
  double elapsedMark = 0.0;          // cpu_time_elapsed's start mark
  int32_t elapsedStarted = 0;        // cpu_time_elapsed has been called
};

extern CpuClockState cpuClock;

constexpr double CpuSecondsPerTick = 0.001;

// The processor-time clock as a tick count: milliseconds narrowed to int32 modulo 2^32, or -1
// when the clock is unavailable.
int32_t cpu_ticks_from_clock(std::clock_t clock);
int32_t read_cpu_ticks();

// Where cpu_timer reads its ticks: read_cpu_ticks, unless a test puts a scripted clock here.
extern int32_t (*cpuTickReader)();

// Mode 0: reads the clock, stores the tick count into *mark (when mark is not null) and returns
// it. Any other mode: the seconds elapsed since the tick count in *mark (mark not null). A
// failed reading counts as 0 ticks and leaves the wrap tracking as it was.
double cpu_timer(double* mark, int mode);

// The first call in the process starts the clock and returns its tick count; every later call
// returns the seconds since then.
double cpu_time_elapsed();
