#include "support/test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/bytes.h"
#include "protocol/password_response.h"

namespace testing_support {

PacketBuilder& PacketBuilder::U32(uint32_t v) {
  std::byte b[4];
  platform::StoreU32(b, v);
  return Raw(b, 4);
}

PacketBuilder& PacketBuilder::Raw(const void* data, size_t size) {
  const auto* p = static_cast<const std::byte*>(data);
  extension_.insert(extension_.end(), p, p + size);
  return *this;
}

PacketBuilder& PacketBuilder::Zeros(size_t n) {
  extension_.resize(extension_.size() + n);
  return *this;
}

PacketBuilder& PacketBuilder::Utf16(std::u16string_view text) {
  const size_t at = extension_.size();
  extension_.resize(at + text.size() * 2);
  platform::WriteCursor(std::span(extension_).subspan(at)).Utf16(text);
  return *this;
}

Bytes PacketBuilder::Build() const {
  Bytes out(24);
  platform::WriteCursor w(out);
  w.U32(magic_.value_or(0x3553564D));
  w.U32(version_.value_or(256));
  w.U32(header_size_.value_or(static_cast<uint32_t>(24 + extension_.size())));
  w.U32(data_size_.value_or(static_cast<uint32_t>(data_.size())));
  w.U32(reserved_.value_or(0));
  w.U32(command_);
  out.insert(out.end(), extension_.begin(), extension_.end());
  out.insert(out.end(), data_.begin(), data_.end());
  return out;
}

uint32_t Packet::U32(size_t offset) const {
  if (offset + 4 > header.size()) return 0xDEADBEEF;
  return platform::LoadU32(header.data() + offset);
}

std::u16string Packet::Utf16(size_t offset, size_t units) const {
  std::u16string out;
  if (offset > header.size()) return out;
  platform::ReadCursor(header.data() + offset, header.size() - offset).Utf16(units, out);
  return out;
}

TestClient::TestClient(uint16_t port, bool ipv6, int receive_buffer) {
  sockaddr_storage address{};
  socklen_t length;
  if (ipv6) {
    auto& a = reinterpret_cast<sockaddr_in6&>(address);
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(port);
    length = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in&>(address);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    length = sizeof a;
  }
  fd_ = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) Close();
}

TestClient::~TestClient() { Close(); }

TestClient::TestClient(TestClient&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

void TestClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void TestClient::Reset() {
  if (fd_ < 0) return;
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

bool TestClient::Send(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<Bytes> TestClient::ReadBytes(size_t n, std::chrono::milliseconds limit) {
  Bytes out(n);
  size_t done = 0;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (done < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t r = recv(fd_, out.data() + done, n - done, 0);
    if (r <= 0) return std::nullopt;
    done += static_cast<size_t>(r);
  }
  return out;
}

std::optional<Packet> TestClient::Read(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  auto left = [&] {
    return std::max(std::chrono::milliseconds(1),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now()));
  };
  auto head = ReadBytes(24, left());
  if (!head) return std::nullopt;
  Packet p{};
  platform::ReadCursor c(*head);
  c.U32(p.magic), c.U32(p.version), c.U32(p.header_size), c.U32(p.data_size), c.U32(p.reserved);
  c.U32(p.command);
  p.header = *head;
  if (p.header_size > 24) {
    if (p.header_size > 1 << 20) return std::nullopt;
    auto rest = ReadBytes(p.header_size - 24, left());
    if (!rest) return std::nullopt;
    p.header.insert(p.header.end(), rest->begin(), rest->end());
  }
  if (p.data_size > 0) {
    auto data = ReadBytes(p.data_size, left());
    if (!data) return std::nullopt;
    p.data = std::move(*data);
  }
  return p;
}

bool TestClient::WaitForEnd(std::chrono::milliseconds limit) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
  char byte;
  return recv(fd_, &byte, 1, 0) == 0;
}

bool TestClient::Silent(std::chrono::milliseconds limit) {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(limit.count())) == 0;
}

std::optional<Welcome> TestClient::ReadWelcome(std::chrono::milliseconds limit) {
  auto p = Read(limit);
  if (!p || p->command != 2 || p->header_size < 64) return std::nullopt;
  Welcome w{};
  w.major = p->U32(24);
  w.minor = p->U32(28);
  w.build = p->U32(32);
  std::memcpy(w.challenge.data(), p->header.data() + 36, 16);
  w.filetime = p->U32(52) | uint64_t{p->U32(56)} << 32;
  w.text = p->Utf16(64, p->U32(60));
  return w;
}

Bytes LoginRequest(std::u16string_view name, std::u16string_view password,
                   const std::array<uint8_t, 16>& challenge, std::array<uint32_t, 3> version,
                   uint32_t login_type) {
  const Md5Digest response = PasswordResponse(challenge, password);
  return PacketBuilder(3)
      .U32(version[0])
      .U32(version[1])
      .U32(version[2])
      .U32(0)
      .U32(login_type)
      .Zeros(64)
      .U32(static_cast<uint32_t>(name.size()))
      .Raw(response.data(), response.size())
      .Utf16(name)
      .Build();
}

std::optional<Packet> TestClient::Login(std::u16string_view name, std::u16string_view password,
                                        std::array<uint32_t, 3> version) {
  auto welcome = ReadWelcome();
  if (!welcome) return std::nullopt;
  if (!Send(LoginRequest(name, password, welcome->challenge, version))) return std::nullopt;
  return Read();
}

}  // namespace testing_support
