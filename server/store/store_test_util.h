// Helpers shared by the store's tests: GUIDs from numbers, hand-built record bytes, small trees
// and a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "store/macro.h"

namespace store_test {

// A GUID whose first byte is n and whose other bytes are fixed; distinct n give distinct GUIDs.
inline platform::Guid G(uint8_t n) {
  platform::Guid g;
  for (size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(0xA0 + i);
  g.bytes[0] = n;
  return g;
}

// A GUID from a 32-bit number, for trees with many nodes.
inline platform::Guid G32(uint32_t n) {
  platform::Guid g = G(0);
  for (size_t i = 0; i < 4; ++i) g.bytes[i] = static_cast<uint8_t>(n >> (8 * i));
  return g;
}

inline std::vector<std::byte> Text(const std::string& text) {
  std::vector<std::byte> out;
  for (char c : text) out.push_back(static_cast<std::byte>(c));
  return out;
}

inline std::string AsText(std::span<const std::byte> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Builds byte sequences field by field, little-endian.
struct Bytes {
  std::vector<std::byte> v;

  Bytes& U32(uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::byte>(x >> (8 * i)));
    return *this;
  }
  Bytes& Guid(const platform::Guid& g) {
    for (uint8_t b : g.bytes) v.push_back(static_cast<std::byte>(b));
    return *this;
  }
  Bytes& Raw(const std::string& text) {
    for (char c : text) v.push_back(static_cast<std::byte>(c));
    return *this;
  }
  Bytes& Utf16(std::u16string_view text) {
    for (char16_t c : text) {
      v.push_back(static_cast<std::byte>(c & 0xFF));
      v.push_back(static_cast<std::byte>(c >> 8));
    }
    return *this;
  }
  Bytes& Append(const Bytes& other) {
    v.insert(v.end(), other.v.begin(), other.v.end());
    return *this;
  }
  // A MacroRecord header and data; its children follow as further Record calls.
  Bytes& Record(const platform::Guid& g, const std::string& data, uint32_t children) {
    return Guid(g).U32(static_cast<uint32_t>(data.size())).U32(children).Raw(data);
  }
  // A copy on the heap of exactly this size, so that a read past the end shows under ASan.
  std::unique_ptr<std::byte[]> Exact() const {
    auto p = std::make_unique<std::byte[]>(v.size() == 0 ? 1 : v.size());
    std::copy(v.begin(), v.end(), p.get());
    return p;
  }
  size_t size() const { return v.size(); }
};

inline std::unique_ptr<CMVS5Macro> Node(const platform::Guid& g, const std::string& data) {
  auto node = std::make_unique<CMVS5Macro>();
  node->set_guid(g);
  node->SetData(Text(data));
  return node;
}

// Appends a child and returns it.
inline CMVS5Macro* Add(CMVS5Macro& parent, const platform::Guid& g, const std::string& data) {
  auto child = Node(g, data);
  CMVS5Macro* raw = child.get();
  parent.InsertChild(std::move(child), -1);
  return raw;
}

// The record bytes of a subtree.
inline std::vector<std::byte> RecordOf(const CMVS5Macro& node) {
  std::vector<std::byte> out(node.RecordSize());
  platform::WriteCursor cursor(out);
  node.WriteRecord(cursor);
  EXPECT_EQ(cursor.remaining(), 0u);
  return out;
}

// A temporary folder under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/mvs5_store_XXXXXX";
    if (mkdtemp(name) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = name;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace store_test
