#include "store/user_account.h"

#include <gtest/gtest.h>

#include <cstring>

#include "store/data.h"
#include "store/store_test_util.h"

namespace {

using store_test::Bytes;

TEST(ScramblePassword, MatchesKnownValuesAndIsItsOwnInverse) {
  const struct {
    uint32_t seed;
    std::u16string plain;
    std::u16string scrambled;
  } cases[] = {
      {0, u"ABCD", u"\x3ADD\x9981\xF8A9\x5855"},
      {0xFFFFFFFF, u"x", u"\xC51B"},  // only the low 16 bits of the shifted seed count
      {0x12345678, u"Own", u"\x9860\xF721\x5613"},
      {42, u"", u""},
  };
  for (const auto& c : cases) {
    std::u16string text = c.plain;
    ScramblePassword(c.seed, text);
    EXPECT_EQ(text, c.scrambled) << c.seed;
    ScramblePassword(c.seed, text);
    EXPECT_EQ(text, c.plain) << c.seed;
  }
}

TEST(UserRecord, WritesTheLayoutWithAFreshSeedEachTime) {
  const UserAccount account{u"Admin", u"OwnerCode", UserAdmin, 3};
  ASSERT_EQ(UserRecordSize(account), 20u + 10 + 18);
  std::vector<std::byte> first(UserRecordSize(account)), second(first.size());
  platform::WriteCursor a(first), b(second);
  WriteUserRecord(account, a);
  WriteUserRecord(account, b);
  EXPECT_EQ(a.remaining(), 0u);

  const uint32_t seed = platform::LoadU32(first.data() + 8);
  std::u16string password = u"OwnerCode";
  ScramblePassword(seed, password);
  Bytes expected;
  expected.U32(3).U32(UserAdmin).U32(seed).U32(5).U32(9).Utf16(u"Admin").Utf16(password);
  EXPECT_EQ(first, expected.v);

  EXPECT_NE(platform::LoadU32(second.data() + 8), seed);
  EXPECT_NE(first, second);
  for (const auto& bytes : {first, second}) {
    platform::ReadCursor cursor(bytes);
    UserAccount read;
    ASSERT_TRUE(ReadUserRecord(cursor, read));
    EXPECT_EQ(cursor.remaining(), 0u);
    EXPECT_EQ(read.name, u"Admin");
    EXPECT_EQ(read.password, u"OwnerCode");
    EXPECT_EQ(read.flags, UserAdmin);
    EXPECT_EQ(read.uid, 3u);
  }
}

TEST(UserRecord, AnEmptyPasswordHasNoBytes) {
  const UserAccount account{u"u", u"", 0, 9};
  std::vector<std::byte> out(UserRecordSize(account));
  ASSERT_EQ(out.size(), 22u);
  platform::WriteCursor cursor(out);
  WriteUserRecord(account, cursor);
  EXPECT_EQ(platform::LoadU32(out.data() + 16), 0u);
  platform::ReadCursor r(out);
  UserAccount read;
  ASSERT_TRUE(ReadUserRecord(r, read));
  EXPECT_TRUE(read.password.empty());
}

TEST(UserRecord, RecordsThatRunPastTheEndFailWithoutChange) {
  Bytes good;
  good.U32(1).U32(0).U32(77).U32(2).U32(1).Utf16(u"ab").Utf16(u"c");
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut;
    cut.v.assign(good.v.begin(), good.v.begin() + static_cast<std::ptrdiff_t>(n));
    const auto exact = cut.Exact();
    platform::ReadCursor cursor(exact.get(), n);
    UserAccount account{u"keep", u"me", 2, 5};
    EXPECT_FALSE(ReadUserRecord(cursor, account)) << n;
    EXPECT_EQ(cursor.remaining(), n);
    EXPECT_EQ(account.name, u"keep");
  }
  for (uint32_t huge : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Bytes bad;
    bad.U32(1).U32(0).U32(0).U32(huge).U32(huge).Utf16(u"ab");
    platform::ReadCursor cursor(bad.v);
    UserAccount account;
    EXPECT_FALSE(ReadUserRecord(cursor, account)) << huge;
  }
}

TEST(UserList, UidsComeFromACounterThatNeverGoesBack) {
  CMVS5Data data;
  EXPECT_EQ(data.UidCounter(), 0u);
  EXPECT_EQ(data.AddUser({u"a", u"1", 0, 0}), 1u);
  EXPECT_EQ(data.AddUser({u"b", u"2", 0, 0}), 2u);
  EXPECT_TRUE(data.RemoveUser(2));
  EXPECT_FALSE(data.RemoveUser(2));
  EXPECT_EQ(data.AddUser({u"c", u"3", 0, 0}), 3u);
  const uint32_t uid = data.AddUser({});  // filled in afterwards, as the commands do
  UserAccount* added = data.FindUserByUid(uid);
  ASSERT_NE(added, nullptr);
  added->name = std::u16string(u"d");
  EXPECT_EQ(data.UidCounter(), 4u);
  EXPECT_EQ(data.FindUserByName(u"d"), added);
}

TEST(UserList, NamesCompareExactlyAndRemovalKeepsTheOrder) {
  CMVS5Data data;
  data.AddUser({u"Admin", u"x", UserAdmin, 0});
  data.AddUser({u"admin", u"y", 0, 0});
  data.AddUser({u"Admin2", u"z", 0, 0});
  EXPECT_EQ(data.FindUserByName(u"Admin")->uid, 1u);
  EXPECT_EQ(data.FindUserByName(u"admin")->uid, 2u);
  EXPECT_EQ(data.FindUserByName(u"ADMIN"), nullptr);
  EXPECT_EQ(data.FindUserByName(u"Admi"), nullptr);
  EXPECT_EQ(data.FindUserByUid(9), nullptr);
  ASSERT_TRUE(data.RemoveUser(1));
  ASSERT_EQ(data.users().size(), 2u);
  EXPECT_EQ(data.users()[0].name, u"admin");
  EXPECT_EQ(data.users()[1].name, u"Admin2");
}

class UserSectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data.AddUser({u"Admin", u"OwnerCode", UserAdmin, 0});
    data.AddUser({u"bob", u"pw", UserNoGroupCreate, 0});
    data.AddUser({u"gone", u"pw", 0, 0});
    data.RemoveUser(3);
    section.resize(data.UserSectionSize());
    platform::WriteCursor cursor(section);
    data.WriteUserSection(cursor);
    EXPECT_EQ(cursor.remaining(), 0u);
  }

  CMVS5Data data;
  std::vector<std::byte> section;
};

TEST_F(UserSectionTest, WritesHeaderAndRecordsAndReadsThemBack) {
  EXPECT_EQ(section.size(), 16u + (20 + 10 + 18) + (20 + 6 + 4));
  EXPECT_EQ(platform::LoadU32(section.data()), section.size());
  EXPECT_EQ(platform::LoadU32(section.data() + 4), 1u);
  EXPECT_EQ(platform::LoadU32(section.data() + 8), 3u);  // the counter, not the highest UID
  EXPECT_EQ(platform::LoadU32(section.data() + 12), 2u);

  CMVS5Data loaded;
  loaded.AddUser({u"replaced", u"x", 0, 0});
  platform::ReadCursor cursor(section);
  ASSERT_TRUE(loaded.ReadUserSection(cursor));
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_EQ(loaded.UidCounter(), 3u);
  ASSERT_EQ(loaded.users().size(), 2u);
  EXPECT_EQ(loaded.users()[0].password, u"OwnerCode");
  EXPECT_EQ(loaded.users()[1].name, u"bob");
  EXPECT_EQ(loaded.users()[1].flags, UserNoGroupCreate);
  EXPECT_EQ(loaded.users()[1].uid, 2u);
  EXPECT_EQ(loaded.AddUser({u"new", u"x", 0, 0}), 4u);
}

TEST_F(UserSectionTest, ASectionThatDoesNotFitKeepsWhatWasReadBefore) {
  const struct {
    size_t keep_bytes;
    size_t accounts;
    uint32_t counter;
  } cases[] = {
      {10, 0, 0},            // header cut: nothing usable
      {16, 0, 3},            // header only: the counter survives
      {16 + 47, 0, 3},       // first record one byte short
      {16 + 48, 1, 3},       // first record complete
      {16 + 48 + 29, 1, 3},  // second record one byte short
  };
  for (const auto& c : cases) {
    std::vector<std::byte> cut(c.keep_bytes);
    std::memcpy(cut.data(), section.data(), c.keep_bytes);
    Bytes exact_source{cut};
    const auto exact = exact_source.Exact();
    CMVS5Data loaded;
    platform::ReadCursor cursor(exact.get(), cut.size());
    EXPECT_FALSE(loaded.ReadUserSection(cursor)) << c.keep_bytes;
    EXPECT_EQ(loaded.users().size(), c.accounts) << c.keep_bytes;
    EXPECT_EQ(loaded.UidCounter(), c.counter) << c.keep_bytes;
  }
}

TEST(UserSection, AHugeCountIsReadRecordByRecord) {
  Bytes b;
  b.U32(0).U32(1).U32(1).U32(0xFFFFFFFF).U32(1).U32(0).U32(0).U32(1).U32(1).Utf16(u"ab");
  CMVS5Data loaded;
  platform::ReadCursor cursor(b.v);
  EXPECT_FALSE(loaded.ReadUserSection(cursor));
  EXPECT_EQ(loaded.users().size(), 1u);
}

TEST(UserSection, TheCounterIsRaisedToTheHighestUidRead) {
  Bytes b;
  b.U32(0).U32(1).U32(2).U32(1).U32(9).U32(0).U32(0).U32(1).U32(1).Utf16(u"ab");
  CMVS5Data loaded;
  platform::ReadCursor cursor(b.v);
  ASSERT_TRUE(loaded.ReadUserSection(cursor));
  EXPECT_EQ(loaded.UidCounter(), 9u);
  EXPECT_EQ(loaded.AddUser({u"n", u"p", 0, 0}), 10u);
}

}  // namespace
