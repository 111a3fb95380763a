#include "runtime/cpu_clock.h"

CpuClockState cpuClock;
int32_t (*cpuTickReader)() = read_cpu_ticks;

static_assert(CLOCKS_PER_SEC % 1000 == 0, "clock() must count whole fractions of a millisecond");

int32_t cpu_ticks_from_clock(std::clock_t clock) {
  if (clock == static_cast<std::clock_t>(-1)) return -1;
  const auto milliseconds = static_cast<long long>(clock / (CLOCKS_PER_SEC / 1000));
  return static_cast<int32_t>(static_cast<uint32_t>(milliseconds));
}

int32_t read_cpu_ticks() { return cpu_ticks_from_clock(std::clock()); }

double cpu_timer(double* mark, int mode) {
  if (cpuClock.clockHook != nullptr) return cpuClock.clockHook(mark, mode);
  const int32_t ticks = cpuTickReader();
  if (ticks < cpuClock.lastTicks) {
    if (ticks == -1) {
      if (mode != 0) return (0.0 - *mark) * CpuSecondsPerTick;
      if (mark != nullptr) *mark = 0.0;
      return 0.0;
    }
    cpuClock.wrapOffset += 4294967296.0;
  }
  cpuClock.lastTicks = ticks;
  const double value = ticks + cpuClock.wrapOffset;
  if (mode != 0) return (value - *mark) * CpuSecondsPerTick;
  if (mark != nullptr) *mark = value;
  return value;
}

double cpu_time_elapsed() {
  if (cpuClock.elapsedStarted) return cpu_timer(&cpuClock.elapsedMark, 1);
  cpuClock.elapsedStarted = 1;
  return cpu_timer(&cpuClock.elapsedMark, 0);
}
