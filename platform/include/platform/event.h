// Auto-reset events.
//
// An event is set from any thread. A set event wakes exactly one wait and resets: either one
// thread blocked in Wait(), or one thread-pool wait armed on it (pool.h), whichever is there; if
// nobody waits, it stays set until the next wait takes it.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

struct EventCore;

class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  // Blocks the calling thread until the event is set (true, and the event is reset) or
  // `timeout_ms` passes (false). A timeout of 0 only tests the event.
  bool Wait(uint32_t timeout_ms);

  EventCore& core() { return *core_; }

 private:
  std::unique_ptr<EventCore> core_;
};

}  // namespace platform
