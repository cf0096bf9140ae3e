// A small protocol client for tests: packets built byte by byte, blocking reads with a limit.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using namespace std::chrono_literals;
using Bytes = std::vector<std::byte>;

// Builds a request: header fields default to a well-formed packet, extension and data appended.
class PacketBuilder {
 public:
  explicit PacketBuilder(uint32_t command) : command_(command) {}
  PacketBuilder& U32(uint32_t v);
  PacketBuilder& Raw(const void* data, size_t size);
  PacketBuilder& Zeros(size_t n);
  PacketBuilder& Utf16(std::u16string_view text);
  PacketBuilder& Data(Bytes data) {
    data_ = std::move(data);
    return *this;
  }
  // Overrides of the header words (otherwise derived from what was appended).
  PacketBuilder& Magic(uint32_t v) { return Set(magic_, v); }
  PacketBuilder& Version(uint32_t v) { return Set(version_, v); }
  PacketBuilder& HeaderSize(uint32_t v) { return Set(header_size_, v); }
  PacketBuilder& DataSize(uint32_t v) { return Set(data_size_, v); }
  PacketBuilder& Reserved(uint32_t v) { return Set(reserved_, v); }
  Bytes Build() const;

 private:
  PacketBuilder& Set(std::optional<uint32_t>& field, uint32_t v) {
    field = v;
    return *this;
  }
  uint32_t command_;
  Bytes extension_;
  Bytes data_;
  std::optional<uint32_t> magic_, version_, header_size_, data_size_, reserved_;
};

struct Packet {
  uint32_t magic, version, header_size, data_size, reserved, command;
  Bytes header;  // all header_size bytes, the 24 of the PacketHeader included
  Bytes data;
  uint32_t U32(size_t offset) const;  // within `header`
  std::u16string Utf16(size_t offset, size_t units) const;
  // For a StatusReply.
  uint32_t status() const { return U32(24); }
  std::u16string text() const { return Utf16(32, U32(28)); }
};

struct Welcome {
  uint32_t major, minor, build;
  std::array<uint8_t, 16> challenge;
  uint64_t filetime;
  std::u16string text;
};

class TestClient {
 public:
  // Connects to 127.0.0.1 (or ::1) on `port`; check connected(). A `receive_buffer` above 0
  // sets SO_RCVBUF first, so that the server's sends block sooner.
  explicit TestClient(uint16_t port, bool ipv6 = false, int receive_buffer = 0);
  ~TestClient();
  TestClient(TestClient&& o) noexcept;
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool Send(const Bytes& bytes);
  // One whole packet, or nullopt when none completes within `limit` or the stream ends.
  std::optional<Packet> Read(std::chrono::milliseconds limit = 5s);
  // Exactly n bytes, or nullopt.
  std::optional<Bytes> ReadBytes(size_t n, std::chrono::milliseconds limit = 5s);
  // True when the server ends its sending side (end of stream) within `limit` with no more
  // bytes before it; false on data or timeout.
  bool WaitForEnd(std::chrono::milliseconds limit = 5s);
  // True when nothing arrives within `limit` (the connection stays open and silent).
  bool Silent(std::chrono::milliseconds limit);

  std::optional<Welcome> ReadWelcome(std::chrono::milliseconds limit = 5s);
  // Reads the welcome, logs in, returns the reply (login reply or status).
  std::optional<Packet> Login(std::u16string_view name, std::u16string_view password,
                              std::array<uint32_t, 3> version = {5, 0, 68});
  void Close();
  void Reset();  // closes with a reset (SO_LINGER 0)

 private:
  int fd_ = -1;
};

// A login request for `name` with the response for `password` and `challenge`.
Bytes LoginRequest(std::u16string_view name, std::u16string_view password,
                   const std::array<uint8_t, 16>& challenge,
                   std::array<uint32_t, 3> version = {5, 0, 68}, uint32_t login_type = 1);

}  // namespace testing_support
