#include "protocol/password_response.h"

#include <cstring>
#include <vector>

#include "platform/bytes.h"

Md5Digest PasswordResponse(const std::array<uint8_t, 16>& challenge, std::u16string_view password) {
  std::vector<std::byte> text(password.size() * 2);
  platform::WriteCursor(text).Utf16(password);
  const Md5Digest inner = Md5(text);
  std::byte outer[32];
  std::memcpy(outer, challenge.data(), 16);
  std::memcpy(outer + 16, inner.data(), 16);
  return Md5(outer);
}
