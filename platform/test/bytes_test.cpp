#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

TEST(ReadCursor, ReadsLittleEndianAndAdvances) {
  const auto data = Bytes({0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 'A', 0, 0x3B, 0x26});
  ReadCursor c(data);
  uint32_t a = 0, b = 0;
  ASSERT_TRUE(c.U32(a));
  ASSERT_TRUE(c.U32(b));
  EXPECT_EQ(a, 0x12345678u);
  EXPECT_EQ(b, 0xFFFFFFFFu);
  std::u16string s;
  ASSERT_TRUE(c.Utf16(2, s));
  EXPECT_EQ(s, u"A\u263B");
  EXPECT_EQ(c.remaining(), 0u);
}

TEST(ReadCursor, ShortReadsFailAndLeaveTheCursorWhereItWas) {
  const auto data = Bytes({1, 2, 3});
  ReadCursor c(data);
  uint32_t v = 7;
  EXPECT_FALSE(c.U32(v));
  EXPECT_EQ(v, 7u);
  std::u16string s;
  EXPECT_FALSE(c.Utf16(2, s));
  std::span<const std::byte> view;
  EXPECT_FALSE(c.Bytes(4, view));
  EXPECT_FALSE(c.Skip(4));
  EXPECT_EQ(c.remaining(), 3u);
  EXPECT_TRUE(c.Skip(3));
  EXPECT_EQ(c.remaining(), 0u);
}

TEST(ReadCursor, HugeCountsFromTheWireDoNotWrap) {
  const auto data = Bytes({1, 2, 3, 4});
  ReadCursor c(data);
  std::u16string s;
  // 2^63 units would be 0 bytes if doubled in 64 bits without the first check.
  EXPECT_FALSE(c.Utf16(uint64_t{1} << 63, s));
  EXPECT_FALSE(c.Utf16(0xFFFFFFFFu, s));
  EXPECT_EQ(c.remaining(), 4u);
}

TEST(WriteCursor, WritesWhatTheReaderReads) {
  std::vector<std::byte> buffer(4 + 6 + 2 + 3);
  WriteCursor w(buffer);
  w.U32(0xA1B2C3D4);
  w.Utf16(u"\u00E9\U0001F600");
  w.Zeros(2);
  w.Bytes("xyz", 3);
  EXPECT_EQ(w.remaining(), 0u);
  EXPECT_EQ(w.written(), buffer.size());
  EXPECT_EQ(buffer[0], std::byte{0xD4});
  EXPECT_EQ(buffer[3], std::byte{0xA1});

  ReadCursor r(buffer);
  uint32_t v;
  std::u16string s;
  ASSERT_TRUE(r.U32(v));
  ASSERT_TRUE(r.Utf16(3, s));
  EXPECT_EQ(v, 0xA1B2C3D4u);
  EXPECT_EQ(s, u"\u00E9\U0001F600");
}

TEST(WriteCursorDeathTest, WritingPastTheSizedBufferAborts) {
  std::vector<std::byte> buffer(3);
  WriteCursor w(buffer);
  EXPECT_DEATH(w.U32(1), "WriteCursor");
}

}  // namespace
}  // namespace platform
