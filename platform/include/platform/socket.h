// TCP sockets with event select: a socket records its network events on an auto-reset event.
//
// Recording rules (those the server is written against):
// - kRead when data arrives; not again until the next Recv(), which re-enables it (and records
//   it at once when unread data is left).
// - kWrite once after the socket is first bound to an event, and again only after a Send() was
//   refused with would-block and room came back.
// - kClose when the peer closed gracefully and no unread data is left, or at once on a reset.
// - kAccept when a connection is pending; re-enabled by Accept().
// Recording an event sets the bound event. EnumNetworkEvents() returns the recorded events and
// clears them. Binding to an event makes the socket non-blocking.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class Event;
struct SocketCore;

enum NetEvent : uint32_t { kRead = 0x01, kWrite = 0x02, kAccept = 0x08, kClose = 0x20 };

// Result of Recv or Send: bytes moved, or an errno value (kWouldBlock for EAGAIN).
struct IoResult {
  long bytes = 0;  // valid when error == 0
  int error = 0;
  bool would_block() const { return error == kWouldBlock; }
  static constexpr int kWouldBlock = 11;  // EAGAIN
};

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&&) noexcept;
  Socket& operator=(Socket&&) noexcept;

  // A TCP socket for IPv6; invalid on failure (errno set).
  static Socket OpenTcp6();
  explicit operator bool() const { return core_ != nullptr; }

  bool SetOption(int level, int name, int value);
  bool Bind(const sockaddr_in6& address);
  bool Listen(int backlog);
  // Accepts one pending connection; the new socket is not bound to any event yet. When the
  // process is out of descriptors, the pending connection is closed at once instead (the result
  // is invalid), so that it does not stay queued and fail every later accept.
  Socket Accept(sockaddr_in6& peer);

  // Binds the socket's `mask` events to `event`; EventSelect(nullptr, 0) unbinds them, after
  // which nothing records or sets an event any more. REQUIRES: `event` outlives the binding.
  bool EventSelect(Event* event, uint32_t mask);
  uint32_t EnumNetworkEvents();

  IoResult Recv(void* buffer, size_t size);
  // Never raises SIGPIPE.
  IoResult Send(const void* data, size_t size);
  bool ShutdownSend();
  void Close();

  int fd() const;

 private:
  std::shared_ptr<SocketCore> core_;
};

// "[::ffff:192.0.2.7]:50123" for an IPv4-mapped address, "[::1]:50123" for IPv6.
std::string AddressToString(const sockaddr_in6& address);

struct NetStartupInfo {
  uint8_t major;
  uint8_t minor;
  std::string description;
  std::string system_status;
};
// Network start-up; always succeeds on this platform.
NetStartupInfo NetStartup();

}  // namespace platform
