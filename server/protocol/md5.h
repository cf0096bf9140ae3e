// MD5 digests (RFC 1321) through libcrypto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

using Md5Digest = std::array<uint8_t, 16>;

Md5Digest Md5(std::span<const std::byte> bytes);
