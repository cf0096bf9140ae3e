#include "commands/snapshot_cache.h"

#include <atomic>

namespace {

std::atomic<uint64_t> added{0};

}  // namespace

SharedPayload* FindSnapshot(PayloadOwner& cache, const platform::Guid& group, uint32_t revision) {
  for (SharedPayload* snapshot : cache.entries) {
    if (snapshot->key == group && snapshot->revision == revision) {
      snapshot->AddReference();
      return snapshot;
    }
  }
  return nullptr;
}

void AddSnapshot(PayloadOwner& cache, SharedPayload* snapshot) {
  snapshot->owner = &cache;
  cache.entries.push_back(snapshot);
  added.fetch_add(1, std::memory_order_relaxed);
}

uint64_t SnapshotsAdded() { return added.load(std::memory_order_relaxed); }
