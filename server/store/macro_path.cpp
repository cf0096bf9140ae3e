#include "store/macro_path.h"

bool ReadMacroPath(platform::ReadCursor& cursor, MacroPath& path) {
  platform::ReadCursor c = cursor;
  uint32_t count = 0;
  if (!c.U32(count)) return false;
  const uint64_t bytes = uint64_t{count} * 16;
  std::span<const std::byte> guids;
  if (bytes > c.remaining() || !c.Bytes(static_cast<size_t>(bytes), guids)) return false;
  path = {count, guids};
  cursor = c;
  return true;
}

bool SamePath(const MacroPath& a, const MacroPath& b) {
  if (a.count != b.count || a.guids.size() != b.guids.size()) return false;
  return a.guids.empty() || std::memcmp(a.guids.data(), b.guids.data(), a.guids.size()) == 0;
}
