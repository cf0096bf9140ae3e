// MacroPath: how requests address a node. A u32 count K, then K GUIDs of 16 bytes: the first
// names a group, the others name macros from the top level down; K = 1 is the group's root node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/bytes.h"
#include "platform/guid.h"

// The GUID whose 16 bytes start at `p`.
inline platform::Guid LoadGuid(const std::byte* p) {
  platform::Guid g;
  std::memcpy(g.bytes.data(), p, g.bytes.size());
  return g;
}

// A MacroPath as it lies in request bytes; a view, valid as long as those bytes.
struct MacroPath {
  uint32_t count = 0;
  std::span<const std::byte> guids;  // count * 16 bytes

  // REQUIRES: i < count.
  platform::Guid At(uint32_t i) const { return LoadGuid(guids.data() + size_t{i} * 16); }
  // The GUIDs after the group's, as FindPath takes them from the group's root node.
  std::span<const std::byte> BelowGroup() const { return count == 0 ? guids : guids.subspan(16); }
  // 4 + 16 * count: the bytes the path takes in a request.
  uint64_t size() const { return 4 + uint64_t{count} * 16; }
};

// Reads a MacroPath at the cursor and advances past it. False, with the cursor unchanged, when
// the count or the count * 16 GUID bytes run past the end.
bool ReadMacroPath(platform::ReadCursor& cursor, MacroPath& path);

// Same count and the same count * 16 GUID bytes.
bool SamePath(const MacroPath& a, const MacroPath& b);
