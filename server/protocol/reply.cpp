// The replies a session queues: SendPacket, SendStatus, and the shutdown of the sending side.
#include <cerrno>

#include "net/client_session.h"
#include "protocol/session_error.h"

void CMVS5ClientSession::SendPacket(uint32_t next_state, bool rearm,
                                    std::span<const std::byte> data) {
  if (send_remaining_ != 0) {
    throw MessageText{"! Attempting to send more data while send operation is in progress"};
  }
  const PacketHeader header = PacketHeader::Read(send_buffer_.data());
  if (header.header_size < kHeaderSize || header.header_size > kMaxHeaderSize) {
    throw MessageText{"! Invalid packet header size"};
  }
  send_cursor_ = send_buffer_.data();
  send_remaining_ = header.header_size;
  send_done_ = 0;
  protocol_state = next_state;
  queued_data_ = {};
  if (header.data_size != 0 && !data.empty()) {
    if (data.size() < header.data_size) throw SystemFailure{EINVAL};  // a handler's fault
    queued_data_ = data.first(header.data_size);
  }
  if (rearm) ExpectHeader();
}

void CMVS5ClientSession::SendStatus(uint32_t status, std::u16string_view text,
                                    uint32_t next_state) {
  const auto units = static_cast<uint32_t>(text.size());
  platform::WriteCursor out(send_buffer_);
  PacketHeader::Write(out, 32 + 2 * units, 0, CommandStatus);
  out.U32(status);
  out.U32(units);
  out.Utf16(text);
  SendPacket(next_state, next_state != StateClosing);
}

void CMVS5ClientSession::ShutdownSend() {
  if (flags.load() & kSendShutDown) return;
  WriteLog("! shutting down");
  if (!socket_.ShutdownSend()) throw SystemFailure{errno};
  flags.fetch_or(kSendShutDown);
}

void CMVS5ClientSession::ExpectHeader() {
  receive_cursor_ = receive_buffer_.data();
  receive_expected_ = kHeaderSize;
  receive_done_ = 0;
}
