#include "platform/text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Text, RoundTripsAllPlanes) {
  const std::u16string text = u"Admin \u00C4\u4E2D \U0001F600";
  EXPECT_EQ(ToUtf16(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"\u00C4"), "\xC3\x84");
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\xC3", u"\uFFFD"},              // truncated sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},    // overlong
      {"\xED\xA0\x80", u"\uFFFD"},  // an encoded surrogate is one bad character
      {"a\xFFz", u"a\uFFFDz"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf16(c.utf8), c.expected) << c.utf8;
  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(Text, CutCountsUtf16UnitsAndKeepsCharactersWhole) {
  const std::string s = ToUtf8(u"ab\U0001F600c");  // 5 UTF-16 units
  EXPECT_EQ(CutToUtf16Units(s, 5), s);
  EXPECT_EQ(CutToUtf16Units(s, 4), ToUtf8(u"ab\U0001F600"));
  EXPECT_EQ(CutToUtf16Units(s, 3), "ab");  // the pair does not fit: not split
  EXPECT_EQ(CutToUtf16Units(s, 0), "");
}

}  // namespace
}  // namespace platform
