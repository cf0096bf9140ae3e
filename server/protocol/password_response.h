// PasswordResponse = MD5(challenge || MD5(password as UTF-16LE, no terminator)): how a client
// proves that it knows a password without sending it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "protocol/md5.h"

Md5Digest PasswordResponse(const std::array<uint8_t, 16>& challenge, std::u16string_view password);
