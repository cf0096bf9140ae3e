#include "protocol/packet.h"

PacketHeader PacketHeader::Read(const std::byte* b) {
  return {platform::LoadU32(b),      platform::LoadU32(b + 4),  platform::LoadU32(b + 8),
          platform::LoadU32(b + 12), platform::LoadU32(b + 16), platform::LoadU32(b + 20)};
}

void PacketHeader::Write(platform::WriteCursor& out, uint32_t header_size, uint32_t data_size,
                         uint32_t command) {
  out.U32(kPacketMagic);
  out.U32(kPacketVersion);
  out.U32(header_size);
  out.U32(data_size);
  out.U32(0);
  out.U32(command);
}
