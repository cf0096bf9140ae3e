// SharedPayload: a reference-counted byte buffer shared between sessions (the request a session
// received, the reply it sends), the change list (change records) and the snapshot cache (group
// snapshots). The last release frees it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "platform/guid.h"
#include "platform/rwlock.h"

struct SharedPayload;

// A list of payloads that own a registration in it, under its own lock. A payload whose owner is
// set leaves the list on its last release, under the owner's exclusive lock.
struct PayloadOwner {
  platform::RWLock lock;
  std::vector<SharedPayload*> entries;  // guarded by lock
};

struct SharedPayload {
  platform::Guid key;
  uint32_t revision = 0;
  uint32_t originator = 0;
  uint32_t kind = 0;
  uint64_t time = 0;
  std::unique_ptr<std::byte[]> bytes;
  uint32_t size = 0;
  PayloadOwner* owner = nullptr;
  // Changed atomically without an owner; with an owner, only under the owner's lock.
  std::atomic<int32_t> references{1};

  // A new payload with no bytes and one reference.
  static SharedPayload* Create() { return new SharedPayload; }

  // Replaces the bytes by n uninitialised bytes. Throws std::bad_alloc when memory runs out.
  void Resize(uint32_t n) {
    bytes.reset();
    size = 0;
    bytes = std::make_unique_for_overwrite<std::byte[]>(n);
    size = n;
  }
  std::span<std::byte> data() { return {bytes.get(), size}; }
  std::span<const std::byte> data() const { return {bytes.get(), size}; }

  // REQUIRES: the caller holds a reference; with an owner, the caller holds the owner's lock.
  void AddReference() { references.fetch_add(1, std::memory_order_relaxed); }

  // Drops one reference; with an owner this takes the owner's lock exclusively.
  // REQUIRES: the owner's lock is not held by the caller.
  void Release();
};

// Holds one reference to a payload and releases it on destruction.
class PayloadRef {
 public:
  PayloadRef() = default;
  // Takes over a reference the caller already holds.
  explicit PayloadRef(SharedPayload* p) : p_(p) {}
  PayloadRef(PayloadRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PayloadRef& operator=(PayloadRef&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  PayloadRef(const PayloadRef&) = delete;
  PayloadRef& operator=(const PayloadRef&) = delete;
  ~PayloadRef() { reset(); }

  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  SharedPayload* get() const { return p_; }
  SharedPayload* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  SharedPayload* p_ = nullptr;
};
