#include "platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include "platform/guid.h"

namespace platform {
namespace {

TEST(Clock, FileTimeCountsFrom1601InHundredNanoseconds) {
  const uint64_t filetime = SystemTimeAsFileTime();
  const auto unix_seconds = static_cast<uint64_t>(time(nullptr));
  const uint64_t converted = filetime / 10000000 - 11644473600ULL;
  EXPECT_LE(converted > unix_seconds ? converted - unix_seconds : unix_seconds - converted, 2u);
}

TEST(Clock, TickCountIsMonotonicMilliseconds) {
  const uint64_t before = TickCount64();
  SleepMs(30);
  const uint64_t after = TickCount64();
  EXPECT_GE(after - before, 30u);
  EXPECT_LT(after - before, 5000u);
}

TEST(Clock, LocalTimeFieldsAreInRange) {
  const LocalTime t = GetLocalTime();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_TRUE(t.millisecond >= 0 && t.millisecond <= 999);
}

TEST(Guid, RegistryFormFromTheMemoryLayout) {
  const Guid g = {{0xC5, 0x38, 0x60, 0x08, 0x1C, 0x7A, 0x01, 0x49, 0xA8, 0xC5, 0xEF, 0x34, 0xE1,
                   0xD8, 0xBF, 0xB2}};
  EXPECT_EQ(GuidToString(g), "{086038C5-7A1C-4901-A8C5-EF34E1D8BFB2}");
  EXPECT_EQ(GuidToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

}  // namespace
}  // namespace platform
