// Sockets whose network events are recorded on an event, by the rules in socket.h.
//
// The reactor reports readiness edges; each socket turns them into recorded events under its own
// lock, which Recv, Send and Accept also hold around their system call. So an edge that arrives
// while a call runs is looked at after the call has re-enabled the event it concerns, and no
// wake-up is lost between "would block" and the next edge.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/event.h"
#include "reactor.h"

namespace platform {

struct SocketCore {
  int fd = -1;
  uint64_t key = 0;  // reactor registration, 0 when none
  std::mutex mu;     // guards the fields below
  Event* event = nullptr;
  uint32_t mask = 0;
  uint32_t recorded = 0;
  uint32_t enabled = kRead | kWrite | kAccept | kClose;
  bool peer_closed = false;
  bool listening = false;

  // REQUIRES: mu held.
  void Record(uint32_t bit) {
    if (event == nullptr || (mask & bit) == 0 || (enabled & bit) == 0) return;
    enabled &= ~bit;
    recorded |= bit;
    event->Set();
  }
  // REQUIRES: mu held.
  bool HasUnreadData() const {
    int unread = 0;
    return ioctl(fd, FIONREAD, &unread) == 0 && unread > 0;
  }
  // After a receive: FD_READ again when data is left, FD_CLOSE once the peer's data is all read.
  // REQUIRES: mu held.
  void AfterReceive(bool drained) {
    enabled |= kRead;
    if (!drained && HasUnreadData()) {
      Record(kRead);
    } else if (peer_closed) {
      Record(kClose);
    }
  }
};

namespace {

// A descriptor held in reserve. When the process has none left, accept fails and the connection
// stays queued, so every later accept would fail the same way at once; giving the reserve up for
// a moment lets the connection be accepted and closed, and the queue move on.
std::mutex spare_mu;
int spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

void RefuseOneConnection(int listener) {
  std::lock_guard lock(spare_mu);
  if (spare_fd < 0) return;
  close(spare_fd);
  const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) close(fd);
  spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace

void posix::OnSocketReady(SocketCore& s, uint32_t ev) {
  std::lock_guard lock(s.mu);
  if (s.event == nullptr) return;
  if (s.listening) {
    if (ev & EPOLLIN) s.Record(kAccept);
    return;
  }
  if (ev & EPOLLERR) {
    s.Record(kClose);  // a reset ends the connection at once, unread data or not
    return;
  }
  if (ev & (EPOLLRDHUP | EPOLLHUP)) s.peer_closed = true;
  const bool unread = (ev & EPOLLIN) && s.HasUnreadData();
  if (unread) s.Record(kRead);
  if (s.peer_closed && !unread) s.Record(kClose);
  if (ev & EPOLLOUT) s.Record(kWrite);
}

Socket::~Socket() { Close(); }
Socket::Socket(Socket&&) noexcept = default;
Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    Close();
    core_ = std::move(o.core_);
  }
  return *this;
}

Socket Socket::OpenTcp6() {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return {};
  Socket s;
  s.core_ = std::make_shared<SocketCore>();
  s.core_->fd = fd;
  return s;
}

bool Socket::SetOption(int level, int name, int value) {
  return setsockopt(core_->fd, level, name, &value, sizeof value) == 0;
}

bool Socket::Bind(const sockaddr_in6& address) {
  return bind(core_->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Socket::Listen(int backlog) {
  std::lock_guard lock(core_->mu);
  core_->listening = true;
  return listen(core_->fd, backlog) == 0;
}

Socket Socket::Accept(sockaddr_in6& peer) {
  SocketCore& s = *core_;
  std::lock_guard lock(s.mu);
  socklen_t length = sizeof peer;
  const int fd = accept4(s.fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE)) RefuseOneConnection(s.fd);
  s.enabled |= kAccept;
  pollfd p{s.fd, POLLIN, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) s.Record(kAccept);  // another one waits
  if (fd < 0) return {};
  Socket out;
  out.core_ = std::make_shared<SocketCore>();
  out.core_->fd = fd;
  return out;
}

bool Socket::EventSelect(Event* event, uint32_t mask) {
  SocketCore& s = *core_;
  if (event == nullptr) {
    uint64_t key;
    {
      std::lock_guard lock(s.mu);
      s.event = nullptr;
      s.mask = 0;
      s.recorded = 0;
      key = s.key;
      s.key = 0;
    }
    if (key != 0) posix::ReactorRemove(s.fd, key);
    return true;
  }
  const int flags = fcntl(s.fd, F_GETFL);
  if (flags < 0 || fcntl(s.fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  bool registered;
  {
    std::lock_guard lock(s.mu);
    s.event = event;
    s.mask = mask;
    s.recorded = 0;
    registered = s.key != 0;
  }
  // Adding to (or modifying in) the epoll set reports the current readiness as a first edge:
  // that is what records FD_WRITE on a fresh connection and FD_ACCEPT for waiting clients.
  if (registered) {
    posix::ReactorRefresh(s.fd, s.key);
  } else {
    const uint64_t key = posix::ReactorAdd(core_, s.fd);
    std::lock_guard lock(s.mu);
    s.key = key;
  }
  return true;
}

uint32_t Socket::EnumNetworkEvents() {
  std::lock_guard lock(core_->mu);
  const uint32_t events = core_->recorded;
  core_->recorded = 0;
  return events;
}

IoResult Socket::Recv(void* buffer, size_t size) {
  SocketCore& s = *core_;
  std::lock_guard lock(s.mu);
  const ssize_t n = recv(s.fd, buffer, size, 0);
  const int error = n < 0 ? errno : 0;
  if (n == 0) s.peer_closed = true;
  s.AfterReceive(n < 0 || static_cast<size_t>(n) < size);
  if (n < 0) return {0, error == EWOULDBLOCK ? IoResult::kWouldBlock : error};
  return {n, 0};
}

IoResult Socket::Send(const void* data, size_t size) {
  SocketCore& s = *core_;
  std::lock_guard lock(s.mu);
  const ssize_t n = send(s.fd, data, size, MSG_NOSIGNAL);
  if (n >= 0) return {n, 0};
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK) {
    s.enabled |= kWrite;  // the next room that comes back records FD_WRITE
    return {0, IoResult::kWouldBlock};
  }
  return {0, error};
}

bool Socket::ShutdownSend() { return shutdown(core_->fd, SHUT_WR) == 0; }

void Socket::Close() {
  if (!core_) return;
  EventSelect(nullptr, 0);
  close(core_->fd);
  core_.reset();
}

int Socket::fd() const { return core_ ? core_->fd : -1; }

std::string AddressToString(const sockaddr_in6& a) {
  char host[INET6_ADDRSTRLEN];
  const uint8_t* b = a.sin6_addr.s6_addr;
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::equal(kMapped, kMapped + 12, b)) {
    std::snprintf(host, sizeof host, "::ffff:%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
  } else {
    inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host);
  }
  char text[INET6_ADDRSTRLEN + 32];
  if (a.sin6_scope_id != 0) {
    std::snprintf(text, sizeof text, "[%s%%%u]:%u", host, a.sin6_scope_id, ntohs(a.sin6_port));
  } else {
    std::snprintf(text, sizeof text, "[%s]:%u", host, ntohs(a.sin6_port));
  }
  return text;
}

NetStartupInfo NetStartup() { return {2, 2, "Linux sockets", "Running"}; }

}  // namespace platform
