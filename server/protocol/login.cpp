// HandleLogin: the challenge-response login of a session in StateAwaitingLogin.
#include <array>
#include <cstring>

#include "host/settings.h"
#include "net/client_session.h"
#include "net/server.h"
#include "platform/text.h"
#include "protocol/password_response.h"
#include "store/data.h"

namespace {

constexpr uint32_t kLoginTypeOffset = 40;
constexpr uint32_t kNameLengthOffset = 108;
constexpr uint32_t kResponseOffset = 112;
constexpr uint32_t kFixedLoginSize = 128;
constexpr uint32_t kMaxNameUnits = 256;
constexpr uint32_t kLoginTypePassword = 1;
constexpr std::array<uint32_t, 3> kMinimumClientVersion = {5, 0, 68};

constexpr std::u16string_view kTooSmall = u"Login packet is too small";

}  // namespace

void CMVS5ClientSession::HandleLogin(const PacketHeader& request) {
  if (request.command != CommandLogin) {
    SendStatus(StatusNotLoggedIn, u"You must login first.", StateAwaitingLogin);
    return;
  }
  // Only the header extension is read, and only as far as the header size says it reaches.
  const std::span<const std::byte> bytes = request_bytes();
  if (request.header_size < kNameLengthOffset) {
    SendStatus(StatusMalformed, kTooSmall, StateClosing);
    return;
  }
  if (platform::LoadU32(&bytes[kLoginTypeOffset]) != kLoginTypePassword) {
    SendStatus(StatusBadLoginType, u"Invalid login type. Supported login types are: <password>.",
               StateAwaitingLogin);
    return;
  }
  if (request.header_size < kFixedLoginSize) {
    SendStatus(StatusMalformed, kTooSmall, StateClosing);
    return;
  }
  const uint32_t units = platform::LoadU32(&bytes[kNameLengthOffset]);
  if (units > kMaxNameUnits) {
    SendStatus(StatusMalformed, u"User name is too long.", StateClosing);
    return;
  }
  if (request.header_size != kFixedLoginSize + 2 * uint64_t{units}) {
    SendStatus(StatusMalformed, u"Invalid packet header size", StateClosing);
    return;
  }
  std::u16string name;
  platform::ReadCursor(bytes.subspan(kFixedLoginSize)).Utf16(units, name);

  bool matched = false;
  {
    CMVS5Data& data = server.settings.data;
    platform::ScopedLock guard(data.Lock(), platform::LockMode::Shared);
    const UserAccount* account = data.FindUserByName(name);
    if (account != nullptr) {
      const Md5Digest expected = PasswordResponse(challenge_, account->password);
      matched = std::memcmp(expected.data(), &bytes[kResponseOffset], expected.size()) == 0;
      if (matched) {
        user_flags = account->flags;
        user_uid = account->uid;
      }
    }
  }
  if (!matched) {
    SendStatus(StatusBadLogin, u"Invalid username and password combination", StateClosing);
    return;
  }
  std::array<uint32_t, 3> version;
  for (size_t i = 0; i < version.size(); ++i) version[i] = platform::LoadU32(&bytes[24 + 4 * i]);
  if (version < kMinimumClientVersion) {  // the first word that differs decides
    SendStatus(StatusClientTooOld,
               u"Invalid client version, minimum allowed client version is 5.0.68", StateClosing);
    return;
  }

  client_version = version;
  user_name = std::move(name);
  WriteLog("* %s logged in%s", platform::ToUtf8(user_name).c_str(),
           (user_flags & UserAdmin) ? " (admin)" : "");

  platform::WriteCursor out(send_buffer_);
  PacketHeader::Write(out, 124 + 2 * units, 0, CommandLoginReply);
  out.U32((user_flags & (UserAdmin | UserNoGroupCreate)) | 8);
  out.Zeros(4 + 64);
  out.U32(units);
  out.U32(user_uid);
  out.U32(session_number);
  out.Bytes(client_address.s6_addr, sizeof client_address.s6_addr);
  out.Utf16(user_name);
  SendPacket(StateLoggedIn, true);
}
