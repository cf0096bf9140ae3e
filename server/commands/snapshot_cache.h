// The group snapshot cache: the snapshots that sessions are still sending, so that overlapping
// fetches of an unchanged group share one serialised tree. A snapshot leaves the cache on its
// last release (the owner rule of SharedPayload).
#pragma once

#include <cstdint>

#include "platform/guid.h"
#include "protocol/shared_payload.h"

// The first snapshot with this group GUID and revision, with one reference added for the
// caller; none when there is none. REQUIRES: cache.lock held exclusively.
SharedPayload* FindSnapshot(PayloadOwner& cache, const platform::Guid& group, uint32_t revision);

// Registers a new snapshot; its one reference stays the caller's.
// REQUIRES: cache.lock held exclusively.
void AddSnapshot(PayloadOwner& cache, SharedPayload* snapshot);

// How many snapshots were registered since the process started (for tests and benchmarks).
uint64_t SnapshotsAdded();
