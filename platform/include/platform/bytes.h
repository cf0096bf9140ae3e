// Little-endian byte coding over spans: the one way records and packets are read and written.
//
// A ReadCursor parses values from the front of a span and advances past them; every read checks
// the remaining count first and fails (returns false, cursor unchanged) instead of reading past
// the end. A WriteCursor fills a buffer whose size was computed beforehand; writing past its end
// is a broken invariant and aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline uint32_t LoadU32(const std::byte* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreU32(std::byte* p, uint32_t v) {
  p[0] = static_cast<std::byte>(v);
  p[1] = static_cast<std::byte>(v >> 8);
  p[2] = static_cast<std::byte>(v >> 16);
  p[3] = static_cast<std::byte>(v >> 24);
}

class ReadCursor {
 public:
  ReadCursor() = default;
  explicit ReadCursor(std::span<const std::byte> bytes) : rest_(bytes) {}
  ReadCursor(const void* data, size_t size)
      : rest_(static_cast<const std::byte*>(data), size) {}

  size_t remaining() const { return rest_.size(); }
  const std::byte* position() const { return rest_.data(); }
  std::span<const std::byte> rest() const { return rest_; }

  bool Skip(size_t n) {
    if (n > rest_.size()) return false;
    rest_ = rest_.subspan(n);
    return true;
  }
  bool U32(uint32_t& v) {
    if (rest_.size() < 4) return false;
    v = LoadU32(rest_.data());
    rest_ = rest_.subspan(4);
    return true;
  }
  // Takes the next n bytes as a view into the underlying buffer.
  bool Bytes(size_t n, std::span<const std::byte>& out) {
    if (n > rest_.size()) return false;
    out = rest_.first(n);
    rest_ = rest_.subspan(n);
    return true;
  }
  bool Copy(void* out, size_t n) {
    if (n > rest_.size()) return false;
    if (n != 0) std::memcpy(out, rest_.data(), n);
    rest_ = rest_.subspan(n);
    return true;
  }
  // Reads `units` UTF-16LE code units; `units` comes from the wire, so the byte count is 64-bit.
  bool Utf16(uint64_t units, std::u16string& out) {
    const uint64_t bytes = units * 2;
    if (units > rest_.size() || bytes > rest_.size()) return false;
    out.resize(static_cast<size_t>(units));
    for (size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<char16_t>(static_cast<uint16_t>(rest_[2 * i]) |
                                     static_cast<uint16_t>(rest_[2 * i + 1]) << 8);
    }
    rest_ = rest_.subspan(static_cast<size_t>(bytes));
    return true;
  }

 private:
  std::span<const std::byte> rest_;
};

class WriteCursor {
 public:
  explicit WriteCursor(std::span<std::byte> buffer) : begin_(buffer.data()), rest_(buffer) {}
  WriteCursor(void* data, size_t size)
      : WriteCursor(std::span<std::byte>(static_cast<std::byte*>(data), size)) {}

  size_t written() const { return static_cast<size_t>(rest_.data() - begin_); }
  size_t remaining() const { return rest_.size(); }
  std::byte* position() const { return rest_.data(); }

  void U32(uint32_t v) { StoreU32(Take(4), v); }
  void Bytes(const void* data, size_t n) {
    if (n != 0) std::memcpy(Take(n), data, n);
  }
  void Bytes(std::span<const std::byte> bytes) { Bytes(bytes.data(), bytes.size()); }
  void Zeros(size_t n) {
    if (n != 0) std::memset(Take(n), 0, n);
  }
  void Utf16(std::u16string_view text) {
    std::byte* p = Take(text.size() * 2);
    for (char16_t c : text) {
      *p++ = static_cast<std::byte>(c & 0xFF);
      *p++ = static_cast<std::byte>(c >> 8);
    }
  }
  // Reserves n bytes at the cursor for the caller to fill, and moves past them.
  std::byte* Take(size_t n);

 private:
  std::byte* begin_;
  std::span<std::byte> rest_;
};

}  // namespace platform
