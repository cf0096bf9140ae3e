// The welcome packet: the server speaks first, with its version, a fresh challenge and its clock.
#include "host/settings.h"
#include "net/client_session.h"
#include "net/server.h"
#include "platform/clock.h"
#include "protocol/md5.h"

namespace {

constexpr std::u16string_view kWelcomeText =
    u"Welcome to the second-generation Morvane Server and may the Force be with you!";

}  // namespace

void CMVS5ClientSession::SendWelcome() {
  std::byte counter[8];
  const uint64_t tsc = platform::ReadTimeStampCounter();
  platform::StoreU32(counter, static_cast<uint32_t>(tsc));
  platform::StoreU32(counter + 4, static_cast<uint32_t>(tsc >> 32));
  challenge_ = Md5(counter);

  const CMVS5Settings& settings = server.settings;
  const uint64_t now = platform::SystemTimeAsFileTime();
  const auto units = static_cast<uint32_t>(kWelcomeText.size());
  platform::WriteCursor out(send_buffer_);
  PacketHeader::Write(out, 64 + 2 * units, 0, CommandWelcome);
  out.U32(settings.version_major);
  out.U32(settings.version_minor);
  out.U32(settings.version_build);
  out.Bytes(challenge_.data(), challenge_.size());
  out.U32(static_cast<uint32_t>(now));
  out.U32(static_cast<uint32_t>(now >> 32));
  out.U32(units);
  out.Utf16(kWelcomeText);
  SendPacket(StateAwaitingLogin, true);
}
