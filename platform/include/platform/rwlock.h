// Reader/writer lock and the scoped guard through which it is always taken.
#pragma once

#include <shared_mutex>

namespace platform {

class RWLock {
 public:
  void LockShared() { mu_.lock_shared(); }
  void UnlockShared() { mu_.unlock_shared(); }
  void LockExclusive() { mu_.lock(); }
  void UnlockExclusive() { mu_.unlock(); }

 private:
  std::shared_mutex mu_;
};

enum class LockMode { Shared, Exclusive };

// Holds a lock from construction until Release() or destruction, whichever comes first, so that
// every exit path (exceptions included) leaves the lock free.
class ScopedLock {
 public:
  ScopedLock(RWLock& lock, LockMode mode) : lock_(lock), exclusive_(mode == LockMode::Exclusive) {
    if (exclusive_) lock_.LockExclusive(); else lock_.LockShared();
    held_ = true;
  }
  ~ScopedLock() { Release(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  void Release() {
    if (!held_) return;
    held_ = false;
    if (exclusive_) lock_.UnlockExclusive(); else lock_.UnlockShared();
  }
  bool held() const { return held_; }
  bool exclusive() const { return exclusive_; }

 private:
  RWLock& lock_;
  bool exclusive_;
  bool held_ = false;
};

}  // namespace platform
