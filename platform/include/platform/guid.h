// GUIDs as the 16 bytes of the Windows memory layout, compared as raw bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

struct Guid {
  std::array<uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// The braced upper-case registry form, e.g. "{086038C5-7A1C-4901-A8C5-EF34E1D8BFB2}": the first
// three fields are little-endian in memory, the last eight bytes are printed in order.
std::string GuidToString(const Guid& guid);

}  // namespace platform
