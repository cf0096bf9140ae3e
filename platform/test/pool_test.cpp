#include "platform/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// Collects the results a wait's callback saw.
struct Recorder {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<uint32_t> results;

  static void Callback(void* self, uint32_t result) {
    auto* r = static_cast<Recorder*>(self);
    std::lock_guard lock(r->mu);
    r->results.push_back(result);
    r->cv.notify_all();
  }
  // Waits until `n` callbacks have run; returns what they saw.
  std::vector<uint32_t> WaitFor(size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::unique_lock lock(mu);
    cv.wait_for(lock, limit, [&] { return results.size() >= n; });
    return results;
  }
};

TEST(Wait, RunsOncePerArming) {
  CleanupGroup group;
  Event event;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  wait.Arm(event, 10s);
  event.Set();
  event.Set();  // stays set: nobody is armed any more
  EXPECT_EQ(r.WaitFor(1), std::vector<uint32_t>{kWaitSignalled});
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(r.WaitFor(1).size(), 1u);
  wait.Arm(event, 10s);  // the signal left over is taken at once
  EXPECT_EQ(r.WaitFor(2), (std::vector<uint32_t>{kWaitSignalled, kWaitSignalled}));
  EXPECT_FALSE(event.Wait(0));
}

TEST(Wait, TimeoutZero) {
  CleanupGroup group;
  Event event;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  wait.Arm(event, 0ns);  // not set: times out at once
  EXPECT_EQ(r.WaitFor(1), std::vector<uint32_t>{kWaitTimeout});
  event.Set();
  wait.Arm(event, 0ns);  // already set: signalled, not timed out
  EXPECT_EQ(r.WaitFor(2), (std::vector<uint32_t>{kWaitTimeout, kWaitSignalled}));
}

TEST(Wait, TimesOutOnceAndTheSignalAfterwardsStaysOnTheEvent) {
  CleanupGroup group;
  Event event;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  const auto start = std::chrono::steady_clock::now();
  wait.Arm(event, 80ms);
  EXPECT_EQ(r.WaitFor(1), std::vector<uint32_t>{kWaitTimeout});
  EXPECT_GE(std::chrono::steady_clock::now() - start, 75ms);
  event.Set();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(r.WaitFor(1).size(), 1u);
  EXPECT_TRUE(event.Wait(0));
}

TEST(Wait, SignalCancelsTheTimeout) {
  CleanupGroup group;
  Event event;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  wait.Arm(event, 50ms);
  event.Set();
  std::this_thread::sleep_for(120ms);
  EXPECT_EQ(r.WaitFor(1), std::vector<uint32_t>{kWaitSignalled});
}

TEST(Wait, ReArmingReplacesTheEarlierArming) {
  CleanupGroup group;
  Event first, second;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  wait.Arm(first, 30ms);
  wait.Arm(second, std::nullopt);
  std::this_thread::sleep_for(80ms);
  first.Set();
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(r.WaitFor(0).empty());
  second.Set();
  EXPECT_EQ(r.WaitFor(1), std::vector<uint32_t>{kWaitSignalled});
  EXPECT_TRUE(first.Wait(0));
}

// A callback that re-arms itself until it has run `limit` times, as a session does.
struct Chain {
  Wait wait;
  Event event;
  std::atomic<int> runs{0};
  std::atomic<int> concurrent{0};
  std::atomic<int> most_concurrent{0};
  int limit = 0;

  static void Callback(void* self, uint32_t) {
    auto* c = static_cast<Chain*>(self);
    const int now = ++c->concurrent;
    int seen = c->most_concurrent.load();
    while (now > seen && !c->most_concurrent.compare_exchange_weak(seen, now)) {
    }
    const int n = ++c->runs;
    --c->concurrent;
    if (n < c->limit) {
      c->event.Set();
      c->wait.Arm(c->event, 10s);
    }
  }
};

TEST(Wait, CallbackMayReArmItself) {
  CleanupGroup group;
  Chain c;
  c.limit = 1000;
  c.wait = Wait(group, &Chain::Callback, &c);
  c.event.Set();
  c.wait.Arm(c.event, 10s);
  for (int i = 0; i < 200 && c.runs < c.limit; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(c.runs.load(), c.limit);
  EXPECT_EQ(c.most_concurrent.load(), 1);
}

// Occupies every pool thread until released.
class Blocker {
 public:
  explicit Blocker(CleanupGroup& group) {
    for (unsigned i = 0; i < PoolThreadCount(); ++i) {
      waits_.emplace_back(group, &Blocker::Callback, this);
      events_.emplace_back(std::make_unique<Event>());
      events_.back()->Set();
      waits_.back().Arm(*events_.back(), std::nullopt);
    }
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return started_ == PoolThreadCount(); });
  }
  void Release() {
    std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }
  ~Blocker() { Release(); }

 private:
  static void Callback(void* self, uint32_t) {
    auto* b = static_cast<Blocker*>(self);
    std::unique_lock lock(b->mu_);
    ++b->started_;
    b->cv_.notify_all();
    b->cv_.wait(lock, [&] { return b->released_; });
  }
  std::mutex mu_;
  std::condition_variable cv_;
  unsigned started_ = 0;
  bool released_ = false;
  std::vector<Wait> waits_;
  std::vector<std::unique_ptr<Event>> events_;
};

TEST(Wait, CloseCancelsACallbackThatHasNotStarted) {
  CleanupGroup group;
  Event event;
  Recorder r;
  Wait wait(group, &Recorder::Callback, &r);
  {
    Blocker blocker(group);
    event.Set();
    wait.Arm(event, std::nullopt);  // queued behind the busy threads
    wait.Close();
    blocker.Release();
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(r.WaitFor(0).empty());
}

struct Slow {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  static void Callback(void* self, uint32_t) {
    auto* s = static_cast<Slow*>(self);
    s->started = true;
    std::this_thread::sleep_for(100ms);
    s->finished = true;
  }
};

TEST(Wait, CloseWaitsForTheRunningCallback) {
  CleanupGroup group;
  Event event;
  Slow slow;
  Wait wait(group, &Slow::Callback, &slow);
  event.Set();
  wait.Arm(event, std::nullopt);
  while (!slow.started) std::this_thread::yield();
  wait.Close();
  EXPECT_TRUE(slow.finished);
}

struct SelfCloser {
  Wait wait;
  std::atomic<bool> done{false};
  static void Callback(void* self, uint32_t) {
    auto* s = static_cast<SelfCloser*>(self);
    s->wait.Close();  // from its own callback: must not wait for itself
    s->done = true;
  }
};

TEST(Wait, CloseFromItsOwnCallbackReturns) {
  CleanupGroup group;
  Event event;
  SelfCloser s;
  s.wait = Wait(group, &SelfCloser::Callback, &s);
  event.Set();
  s.wait.Arm(event, std::nullopt);
  for (int i = 0; i < 200 && !s.done; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(s.done);
}

TEST(CleanupGroup, CloseMembersCancelsWaitsAndIgnoresLaterArming) {
  CleanupGroup group;
  Event running_event, armed_event;
  Slow slow;
  Recorder r;
  Wait running(group, &Slow::Callback, &slow);
  Wait armed(group, &Recorder::Callback, &r);
  running_event.Set();
  running.Arm(running_event, std::nullopt);
  armed.Arm(armed_event, 10s);
  while (!slow.started) std::this_thread::yield();
  group.CloseMembers();
  EXPECT_TRUE(slow.finished);  // the running callback was waited for
  armed.Arm(armed_event, 0ns);
  armed_event.Set();
  std::this_thread::sleep_for(60ms);
  EXPECT_TRUE(r.WaitFor(0).empty());
  EXPECT_TRUE(armed_event.Wait(0));  // the closed wait took nothing
}

}  // namespace
}  // namespace platform
