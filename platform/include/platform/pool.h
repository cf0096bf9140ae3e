// The thread pool: a fixed set of worker threads sharing one epoll set with the sockets, the wait
// timeouts and a wake-up descriptor (no thread per wait). The worker that takes an event runs the
// callback it leads to. Waits run their callback once per arming, on a worker thread.
//
// A Wait is created in a CleanupGroup. Arm() waits once on an event with a relative timeout: the
// callback runs with kWaitSignalled when the event is or becomes set (taking the signal), or with
// kWaitTimeout when the timeout passes first. A timeout of 0 on an event that is not set times
// out at once. Arm() may be called from inside the wait's own callback; a new callback may then
// start on another thread while the first is returning.
//
// Close() (also the destructor) disarms the wait, cancels callbacks that are queued and not yet
// started, and waits for a running callback to return, unless it is called from that callback.
// CleanupGroup::CloseMembers() does the same for every wait of the group; afterwards the waits'
// own Close() does nothing and Arm() is ignored.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

class Event;
struct WaitCore;
struct GroupCore;

constexpr uint32_t kWaitSignalled = 0;
constexpr uint32_t kWaitTimeout = 258;

class CleanupGroup {
 public:
  CleanupGroup();
  ~CleanupGroup();  // closes the members
  CleanupGroup(const CleanupGroup&) = delete;
  CleanupGroup& operator=(const CleanupGroup&) = delete;

  void CloseMembers();

  GroupCore& core() { return *core_; }

 private:
  std::unique_ptr<GroupCore> core_;
};

class Wait {
 public:
  using Callback = void (*)(void* context, uint32_t result);

  Wait() = default;
  Wait(CleanupGroup& group, Callback callback, void* context);
  ~Wait();
  Wait(Wait&&) noexcept;
  Wait& operator=(Wait&&) noexcept;

  explicit operator bool() const { return core_ != nullptr; }

  // Waits once on `event`, for at most `timeout` (nullopt: no timeout). Replaces an earlier
  // arming that has not fired. REQUIRES: `event` outlives the arming (until it fires or Close()).
  void Arm(Event& event, std::optional<std::chrono::nanoseconds> timeout);
  void Close();

 private:
  std::shared_ptr<WaitCore> core_;
};

// Number of worker threads of the pool (started on first use).
unsigned PoolThreadCount();

// Callbacks the pool has run since the process started (for benchmarks).
uint64_t PoolCallbackCount();

}  // namespace platform
