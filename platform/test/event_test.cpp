#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(Event, IsAutoReset) {
  Event e;
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  e.Set();  // setting a set event does not count twice
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitTimesOut) {
  Event e;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.Wait(60));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
}

TEST(Event, OneSetWakesExactlyOneThread) {
  Event e;
  std::atomic<int> woken{0};
  std::thread a([&] { woken += e.Wait(2000); });
  std::thread b([&] { woken += e.Wait(2000); });
  std::this_thread::sleep_for(50ms);
  e.Set();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(woken.load(), 1);
  e.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
}

}  // namespace
}  // namespace platform
