// The transfer engine: one pass of a session over its socket each time its wait fires.
#include <cerrno>
#include <stdexcept>

#include "net/client_session.h"
#include "net/server.h"
#include "protocol/dispatch.h"
#include "protocol/session_error.h"
#include "store/user_account.h"

bool CMVS5ClientSession::TransferStep(uint32_t wait_result) {
  const uint32_t f = flags.load();
  if (f & kScheduledForDeletion) return false;
  if ((server.shutdown_flags.load() & kImmediateStop) || (f & kKillRequest)) {
    ScheduleToDelete();
    return false;
  }
  if (wait_result == platform::kWaitTimeout) {
    WriteLog("! timed out");
    ScheduleToDelete();
    return false;
  }
  if (socket_.EnumNetworkEvents() & platform::kClose) {
    WriteLog("* socket gracefully closed");  // unread input and unsent output are dropped
    ScheduleToDelete();
    return false;
  }

  for (;;) {
    if (!ReceivePending()) {
      WriteLog("! connection was closed by remote host.");
      ShutdownSend();
      return true;
    }
    if (flags.load() & kSendShutDown) return true;
    SendPending();
    if (server.shutdown_flags.load() & kGracefulStop) {
      ShutdownSend();
      return true;
    }
    if (send_remaining_ != 0) return true;  // FD_WRITE brings us back
    sent_payload_.reset();
    if (receive_expected_ != 0) return true;

    if (protocol_state == StateNew) {
      SendWelcome();
      continue;
    }
    if (protocol_state == StateClosing) {
      ShutdownSend();
      return true;
    }

    const PacketHeader request = PacketHeader::Read(receive_buffer_.data());
    if (!request_payload_) {
      if (receive_done_ == kHeaderSize) {
        if (!HeaderIsValid(request)) {
          ShutdownSend();
          return true;
        }
        if (request.header_size > kHeaderSize) {  // the extension follows the first 24 bytes
          receive_expected_ = request.header_size - kHeaderSize;
          continue;
        }
      }
      if (request.data_size != 0) {
        if (request.data_size > kMaxDataSize) {
          SendStatus(StatusMalformed, u"Macro data too big", StateClosing);
          continue;
        }
        request_payload_ = PayloadRef(SharedPayload::Create());
        request_payload_->Resize(request.data_size);
        receive_cursor_ = request_payload_->bytes.get();
        receive_expected_ = request.data_size;
        receive_done_ = 0;
        continue;
      }
    }
    Dispatch(request);
    request_payload_.reset();
    // Every request gets exactly one reply; without one this loop would dispatch it again.
    if (send_remaining_ == 0) throw std::logic_error("request left without a reply");
  }
}

bool CMVS5ClientSession::ReceivePending() {
  while (receive_expected_ != 0) {
    const platform::IoResult r = socket_.Recv(receive_cursor_, receive_expected_);
    if (r.would_block()) break;
    if (r.error != 0) throw SystemFailure{r.error};
    if (r.bytes == 0) return false;
    const auto n = static_cast<size_t>(r.bytes);
    receive_cursor_ += n;
    receive_done_ += n;
    receive_expected_ -= n;
  }
  return true;
}

void CMVS5ClientSession::SendPending() {
  while (send_remaining_ != 0) {
    const platform::IoResult r = socket_.Send(send_cursor_, send_remaining_);
    if (r.would_block()) return;
    if (r.error != 0) throw SystemFailure{r.error};
    if (r.bytes == 0) throw SystemFailure{EPIPE};
    const auto n = static_cast<size_t>(r.bytes);
    send_cursor_ += n;
    send_done_ += n;
    send_remaining_ -= n;
    if (send_remaining_ == 0 && !queued_data_.empty()) {
      send_cursor_ = queued_data_.data();
      send_remaining_ = queued_data_.size();
      send_done_ = 0;
      queued_data_ = {};
    }
  }
}

bool CMVS5ClientSession::HeaderIsValid(const PacketHeader& h) {
  if (h.magic != kPacketMagic) {
    WriteLog("! invalid packet magic (0x%08X)", h.magic);
    return false;
  }
  if (h.version != kPacketVersion) {
    WriteLog("! invalid packet version (0x%04X)", h.version);
    return false;
  }
  if (h.header_size < kHeaderSize || h.header_size > kMaxHeaderSize) {
    WriteLog("! packet header is either too small or too big (%i)",
             static_cast<int>(h.header_size));
    return false;
  }
  return true;  // the reserved word is never tested; the data size is tested afterwards
}

void CMVS5ClientSession::Dispatch(const PacketHeader& request) {
  if (request.command == CommandEcho) {
    Echo(request);
    return;
  }
  if (protocol_state == StateAwaitingLogin) {
    HandleLogin(request);
    return;
  }
  for (const DispatchRow& row : DispatchTable()) {
    if (row.command != request.command) continue;
    if (row.admin_only && !(user_flags & UserAdmin)) {
      SendStatus(StatusAdminRequired, u"Admin rights are required to perform this command",
                 StateLoggedIn);
      return;
    }
    (this->*row.handler)(request);
    return;
  }
  SendStatus(StatusInvalidCommand, u"Invalid or unsupported command", StateLoggedIn);
}

void CMVS5ClientSession::Echo(const PacketHeader& request) {
  platform::WriteCursor out(send_buffer_);
  PacketHeader::Write(out, request.header_size, 0, CommandEcho);
  out.Bytes(receive_buffer_.data() + kHeaderSize, request.header_size - kHeaderSize);
  SendPacket(protocol_state, true);  // a data part sent with the echo is dropped
}

std::span<const std::byte> CMVS5ClientSession::request_bytes() const {
  const uint32_t size = platform::LoadU32(receive_buffer_.data() + 8);
  return {receive_buffer_.data(), size};
}

std::span<const std::byte> CMVS5ClientSession::request_data() const {
  if (!request_payload_) return {};
  return request_payload_->data();
}
