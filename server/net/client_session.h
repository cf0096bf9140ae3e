// CMVS5ClientSession: one accepted TCP connection, from acceptance to destruction.
//
// Its lifecycle (creation, thread-pool wait, retirement) is in net/client_session.cpp; the
// transfer engine and replies in protocol/; login in protocol/login.cpp; the command handlers in
// commands/. At most one callback of a session runs at a time, so the transfer, protocol and
// login state belong to that callback and need no lock. Other threads only signal the event, OR
// bits into `flags`, and read the identity and login fields under the session list lock.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/event.h"
#include "platform/pool.h"
#include "platform/socket.h"
#include "protocol/packet.h"
#include "protocol/shared_payload.h"

class CMVServer5;
class CMVS5Macro;
class CMVS5MacroGroup;
struct MacroPath;

// Bits of CMVS5ClientSession::flags; every change is an atomic OR.
constexpr uint32_t kScheduledForDeletion = 1;
constexpr uint32_t kSendShutDown = 2;
constexpr uint32_t kHasLocked = 4;
constexpr uint32_t kKillRequest = 8;

class CMVS5ClientSession {
 public:
  // A session for an accepted socket, with its event and wait, or none (logged) when they
  // cannot be made; the socket is then left to the caller. The session is in no list and its
  // wait is not armed. Listening thread only.
  static std::unique_ptr<CMVS5ClientSession> CreateSession(CMVServer5& server,
                                                           platform::Socket& socket);
  // Releases the session's macro locks, payloads, wait, socket and event; logs
  // "* session destroyed". Listening thread only, after the session has retired.
  virtual ~CMVS5ClientSession();
  CMVS5ClientSession(const CMVS5ClientSession&) = delete;
  CMVS5ClientSession& operator=(const CMVS5ClientSession&) = delete;

  // Arms the wait on the event with the network timeout.
  void ArmWait();

  // Moves the session from the active to the retired list; nothing may touch the session after
  // it returns. Session callback only.
  void ScheduleToDelete();

  // A session log line: "%c CMVS5ClientSession 0x%08X,%s" for a message that begins with '!' or
  // '*', else "CMVS5ClientSession 0x%08X, %s".
  void WriteLog(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  uint32_t log_handle() const;

  // Signalling it makes the session's next transfer step run; any thread may.
  platform::Event& event() { return event_; }

  // ---- Replies (protocol/reply.cpp): the only ways a handler answers. ----

  // The buffer in which every reply header is built.
  std::span<std::byte, kBufferSize> send_buffer() { return send_buffer_; }

  // Queues the reply whose header lies at the start of the send buffer, followed by `data` when
  // the header's data size is not 0 (its data size is the length sent). Raises "! Attempting to
  // send more data while send operation is in progress" when a reply is still going out, and
  // "! Invalid packet header size" for a header size outside 24..1024. With `rearm`, the next
  // request header is expected. Nothing is written to the socket here.
  void SendPacket(uint32_t next_state, bool rearm, std::span<const std::byte> data = {});

  // Queues a StatusReply: status, text length, UTF-16LE text; re-arms the receive unless the
  // next state is StateClosing.
  void SendStatus(uint32_t status, std::u16string_view text, uint32_t next_state);

  // Makes `payload` the one a reply's data points into; released once the reply is out.
  void SetSentPayload(PayloadRef payload) { sent_payload_ = std::move(payload); }

  // ---- The current request, for handlers. ----

  // Header and header extension (header size bytes).
  std::span<const std::byte> request_bytes() const;
  // The data part; empty when the data size is 0.
  std::span<const std::byte> request_data() const;
  SharedPayload* request_payload() const { return request_payload_.get(); }

  // ---- Handlers ----
  void HandleLogin(const PacketHeader& request);
  void ListGroups(const PacketHeader& request);
  void FetchGroup(const PacketHeader& request);
  void ReadGroupAccess(const PacketHeader& request);

  // The node the path names, when the user may write to its group; otherwise none, with the
  // failure reply already queued.
  // REQUIRES: the store's lock held exclusively (the caller goes on to change the node).
  CMVS5Macro* ResolveWritablePath(const MacroPath& path);

  // Whether the group is visible to the user: an administrator, or any access.
  // REQUIRES: the store's lock held.
  bool CanSee(const CMVS5MacroGroup& group) const;

  // ---- Identity, fields of other threads' interest ----
  const uint32_t session_number;
  CMVServer5& server;
  std::atomic<uint32_t> flags{0};
  in6_addr client_address{};  // set by the accept loop before the wait is armed
  // Login state, set once at login.
  std::array<uint32_t, 3> client_version{};
  std::u16string user_name;
  uint32_t user_flags = 0;
  uint32_t user_uid = 0;
  uint32_t protocol_state = StateNew;

 private:
  CMVS5ClientSession(CMVServer5& server, uint32_t number);

  bool Attach(platform::Socket& socket);
  static void OnSessionWait(void* context, uint32_t wait_result);

  // ---- Transfer engine (protocol/transfer_step.cpp) ----
  // One pass over the socket; true to re-arm the wait, false once the session has retired.
  bool TransferStep(uint32_t wait_result);
  bool ReceivePending();  // false when the peer reached end of stream
  void SendPending();
  bool HeaderIsValid(const PacketHeader& header);
  void Dispatch(const PacketHeader& request);
  void Echo(const PacketHeader& request);
  void ShutdownSend();
  void SendWelcome();
  void ExpectHeader();

  platform::Socket socket_;
  platform::Event event_;
  platform::Wait wait_;

  std::array<uint8_t, 16> challenge_{};

  // Transfer state.
  std::array<std::byte, kBufferSize> send_buffer_{};
  std::array<std::byte, kBufferSize> receive_buffer_{};
  const std::byte* send_cursor_ = nullptr;
  size_t send_remaining_ = 0;
  size_t send_done_ = 0;
  std::span<const std::byte> queued_data_;
  std::byte* receive_cursor_ = nullptr;
  size_t receive_expected_ = 0;
  size_t receive_done_ = 0;
  PayloadRef request_payload_;
  PayloadRef sent_payload_;
};
