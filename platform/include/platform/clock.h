// Clocks: monotonic tick count, local wall time, FILETIME and the processor's time-stamp counter.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of CLOCK_MONOTONIC.
uint64_t TickCount64();

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime GetLocalTime();

// 100-ns units since 1601-01-01 UTC.
uint64_t SystemTimeAsFileTime();

uint64_t ReadTimeStampCounter();

void SleepMs(uint32_t ms);

}  // namespace platform
