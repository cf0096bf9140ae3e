#include "platform/clock.h"

#include <time.h>
#include <x86intrin.h>

#include <cerrno>

namespace platform {

uint64_t TickCount64() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

LocalTime GetLocalTime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  localtime_r(&ts.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
          t.tm_min,         t.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

uint64_t SystemTimeAsFileTime() {
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr uint64_t kEpochDelta = 11644473600ULL;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<uint64_t>(ts.tv_sec) + kEpochDelta) * 10000000ULL +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint64_t ReadTimeStampCounter() { return __rdtsc(); }

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
