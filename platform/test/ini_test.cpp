#include "platform/ini.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

class IniTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ini_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/settings.ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(std::string_view bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }
  std::u16string Str(std::string_view section, std::string_view key, size_t max_units = 259) {
    return IniReadString(path_, section, key, u"<default>", max_units);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(IniTest, FindsTheRightLine) {
  Write(
      "Orphan=before any section\n"
      "; Commented=yes\n"
      "[Main]\n"
      "  NetworkTCPPort  =  1234  \n"
      "networktcpport=5678\n"
      "just some words\n"
      "Equation=a=b\n"
      "Trailing=x ; not a comment\n"
      "\tTabbed\t=\tv\t\n"
      "  ;Hidden=1\n"
      "[broken header\n"
      "AfterBroken=still Main\n"
      "Gr\xC3\xA4n=umlaut\n"
      "[ Other ] trailing text\n"
      "Key=other\n"
      "[MAIN]\n"
      "Late=from the second Main\n");
  struct Case {
    const char* section;
    const char* key;
    std::u16string expected;
  };
  const Case cases[] = {
      {"Main", "NetworkTCPPort", u"1234"},  // blanks trimmed; the first line of a key wins
      {"main", "NETWORKTCPPORT", u"1234"},  // names fold ASCII case
      {"Main", "Equation", u"a=b"},         // the first '=' splits
      {"Main", "Trailing", u"x ; not a comment"},
      {"Main", "Tabbed", u"v"},
      {"Main", "Hidden", u"<default>"},  // comment line
      {"Main", ";Hidden", u"<default>"},
      {"Main", "Commented", u"<default>"},
      {"Main", "Orphan", u"<default>"},  // keys before the first section belong to none
      {"Main", "just some words", u"<default>"},
      {"Main", "AfterBroken", u"still Main"},
      {"Main", "Gr\xC3\xA4n", u"umlaut"},
      {"Main", "GR\xC3\x84N", u"<default>"},  // only ASCII letters fold
      {"Other", "Key", u"other"},             // "[ Other ]" trimmed, text after ']' ignored
      {"Main", "Key", u"<default>"},          // a key of another section
      {"Main", "Late", u"<default>"},         // only the first section of a name is read
      {"Missing", "Key", u"<default>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Str(c.section, c.key), c.expected) << c.section << " / " << c.key;
  }
}

TEST_F(IniTest, ReadsEveryEncodingAndLineEnd) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  // Each file holds [Main] Name=<A-umlaut><CJK><emoji> and Port=7.
  const Case cases[] = {
      {"UTF-8, LF", "[Main]\nName=\xC3\x84\xE4\xB8\xAD\xF0\x9F\x98\x80\nPort=7\n"},
      {"UTF-8, CRLF", "[Main]\r\nName=\xC3\x84\xE4\xB8\xAD\xF0\x9F\x98\x80\r\nPort=7\r\n"},
      {"UTF-8, CR", "[Main]\rName=\xC3\x84\xE4\xB8\xAD\xF0\x9F\x98\x80\rPort=7"},
      {"UTF-8 with BOM", "\xEF\xBB\xBF[Main]\nName=\xC3\x84\xE4\xB8\xAD\xF0\x9F\x98\x80\nPort=7"},
      {"UTF-16LE, CRLF, odd last byte",
       std::string("\xFF\xFE[\0M\0a\0i\0n\0]\0\r\0\n\0N\0a\0m\0e\0=\0\xC4\0\x2D\x4E"
                   "\x3D\xD8\x00\xDE\r\0\n\0P\0o\0r\0t\0=\0"
                   "7\0\r",
                   53)},
  };
  for (const Case& c : cases) {
    Write(c.bytes);
    EXPECT_EQ(Str("Main", "Name"), u"\u00C4\u4E2D\U0001F600") << c.name;
    EXPECT_EQ(IniReadInt(path_, "Main", "Port", 0), 7u) << c.name;
  }
}

TEST_F(IniTest, IntegersReadLeadingDecimalDigits) {
  struct Case {
    const char* value;
    uint32_t expected;
  };
  const Case cases[] = {
      {"25552", 25552},
      {"0", 0},
      {"+7", 7},
      {"-1", 4294967295u},  // negated modulo 2^32
      {"-25552", 4294941744u},
      {"4294967295", 4294967295u},
      {"4294967296", 0},  // digits wrap modulo 2^32
      {"4294967301", 5},
      {"99999999999999999999", 1661992959u},
      {"12abc", 12},  // trailing text ignored
      {"90 ; seconds", 90},
      {"abc", 0},  // no leading digits
      {"-", 0},
      {"- 5", 0},
      {"0x10", 0},     // decimal only
      {"\"42\"", 42},  // quotes removed as for strings
      {"", 555},       // empty value: the default
      {"\"\"", 555},
  };
  for (const Case& c : cases) {
    Write(std::string("[Main]\nValue=") + c.value + "\n");
    EXPECT_EQ(IniReadInt(path_, "Main", "Value", 555), c.expected) << c.value;
  }
  EXPECT_EQ(IniReadInt(path_, "Main", "Absent", 555), 555u);
  EXPECT_EQ(IniReadInt(path_, "Absent", "Value", 555), 555u);
}

TEST_F(IniTest, StringValuesLoseOnePairOfQuotes) {
  struct Case {
    const char* value;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\"  spaced  \"", u"  spaced  "},
      {"'single'", u"single"},
      {"\"\"inner\"\"", u"\"inner\""},  // one pair only
      {"\"mixed'", u"\"mixed'"},
      {"\"", u"\""},
      {"\"\"", u""},
      {"", u""},  // present but empty: empty, not the default
      {"a \"b\" c", u"a \"b\" c"},
  };
  for (const Case& c : cases) {
    Write(std::string("[Main]\nDataFile=") + c.value + "\n");
    EXPECT_EQ(Str("Main", "DataFile"), c.expected) << c.value;
  }
}

TEST_F(IniTest, LongValuesAreCutToMaxUnits) {
  Write("[Main]\nPath=abcdef\nEmoji=ab\xF0\x9F\x98\x80\n");
  EXPECT_EQ(Str("Main", "Path", 6), u"abcdef");
  EXPECT_EQ(Str("Main", "Path", 4), u"abcd");
  EXPECT_EQ(Str("Main", "Path", 0), u"");
  EXPECT_EQ(Str("Main", "Emoji", 4), u"ab\U0001F600");
  EXPECT_EQ(Str("Main", "Emoji", 3), u"ab");     // a surrogate pair is not split
  EXPECT_EQ(Str("Main", "Missing", 3), u"<de");  // the default is cut too
  const std::string long_value(5000, 'x');
  Write("[Main]\nDataFile=" + long_value + "\n");
  EXPECT_EQ(Str("Main", "DataFile", 259), std::u16string(259, u'x'));
}

TEST_F(IniTest, UnreadableFileGivesDefaults) {
  const std::string fifo = dir_ + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Neither a FIFO without writer nor an endless device may hold the reader up.
  for (const std::string& path : {dir_ + "/missing.ini", dir_, fifo, std::string("/dev/zero")}) {
    EXPECT_EQ(IniReadInt(path, "Main", "NetworkTCPPort", 25552), 25552u) << path;
    EXPECT_EQ(IniReadString(path, "Main", "DataFile", u"/srv/data", 259), u"/srv/data") << path;
  }
  Write("");
  EXPECT_EQ(Str("Main", "DataFile"), u"<default>");
}

}  // namespace
}  // namespace platform
