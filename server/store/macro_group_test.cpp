#include "store/macro_group.h"

#include <gtest/gtest.h>

#include "protocol/shared_payload.h"
#include "store/store_test_util.h"

namespace {

using store_test::Add;
using store_test::AsText;
using store_test::Bytes;
using store_test::G;
using store_test::RecordOf;

constexpr uint32_t kUid = 7;

TEST(AccessFor, FollowsTheAccessTable) {
  const uint32_t listed = kUid;
  const uint32_t granted = kUid | AccessEntryGrant;
  const struct {
    uint32_t flags;
    std::vector<uint32_t> entries;
    uint32_t level;
  } cases[] = {
      // Open: the list names exceptions.
      {GroupOpen, {}, AccessReadWrite},
      {GroupOpen | GroupReadOnly, {}, AccessRead},
      {GroupOpen, {listed}, AccessNone},
      {GroupOpen | GroupReadOnly, {listed}, AccessNone},
      {GroupOpen, {granted}, AccessRead},
      {GroupOpen | GroupReadOnly, {granted}, AccessRead},
      // Closed: the list names the members.
      {0, {}, AccessNone},
      {GroupReadOnly, {}, AccessNone},
      {0, {listed}, AccessRead},
      {GroupReadOnly, {listed}, AccessRead},
      {0, {granted}, AccessReadWrite},
      {GroupReadOnly, {granted}, AccessRead},
      // Other users' entries do not count; the first entry for a user wins.
      {0, {8 | AccessEntryGrant, 6}, AccessNone},
      {GroupOpen, {8, 6 | AccessEntryGrant}, AccessReadWrite},
      {0, {listed, granted}, AccessRead},
      {0, {granted, listed}, AccessReadWrite},
      {GroupOpen, {granted, listed}, AccessRead},
  };
  for (const auto& c : cases) {
    CMVS5MacroGroup group;
    group.set_flags(c.flags);
    group.set_access_list(c.entries);
    EXPECT_EQ(group.AccessFor(kUid), c.level)
        << "flags " << c.flags << ", " << c.entries.size() << " entries";
  }
}

TEST(AccessFor, ComparesTheLow31BitsOfAnEntry) {
  CMVS5MacroGroup group;  // closed
  group.set_access_list({0x80000001});
  EXPECT_EQ(group.AccessFor(1), AccessReadWrite);
  EXPECT_EQ(group.AccessFor(0x80000001), AccessNone);
}

TEST(WriteSummary, WritesRightsForTheSession) {
  CMVS5MacroGroup group;
  group.set_guid(G(1));
  group.set_name(u"Ab");
  group.set_owner_uid(5);
  group.set_flags(GroupOpen | GroupReadOnly);
  ASSERT_EQ(group.SummarySize(), 32u);

  const struct {
    uint32_t uid;
    bool admin;
    uint32_t rights;
  } cases[] = {
      {kUid, false, 0},
      {kUid, true, SummaryCanWrite},
      {5, false, SummaryIsOwner},
      {5, true, SummaryCanWrite | SummaryIsOwner},
  };
  for (const auto& c : cases) {
    std::vector<std::byte> out(group.SummarySize());
    platform::WriteCursor cursor(out);
    group.WriteSummary(cursor, c.uid, c.admin);
    EXPECT_EQ(cursor.remaining(), 0u);
    Bytes expected;
    expected.U32(32).Guid(G(1)).U32(c.rights).U32(2).Utf16(u"Ab");
    EXPECT_EQ(out, expected.v) << c.uid << " " << c.admin;
  }
  group.set_flags(GroupOpen);
  std::vector<std::byte> out(group.SummarySize());
  platform::WriteCursor cursor(out);
  group.WriteSummary(cursor, kUid, false);
  EXPECT_EQ(platform::LoadU32(out.data() + 20), SummaryCanWrite);
}

TEST(MakeSnapshot, HoldsTheRootRecordAtTheCurrentRevision) {
  CMVS5MacroGroup group;
  group.set_guid(G(1));
  Add(group, G(2), "abc");
  group.IncrementRevision();
  group.IncrementRevision();

  PayloadRef snapshot(group.MakeSnapshot());
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->references.load(), 1);
  EXPECT_EQ(snapshot->owner, nullptr);
  EXPECT_EQ(snapshot->key, G(1));
  EXPECT_EQ(snapshot->revision, 2u);
  const std::vector<std::byte> bytes(snapshot->data().begin(), snapshot->data().end());
  EXPECT_EQ(bytes, RecordOf(group));

  CMVS5MacroGroup empty;
  empty.set_guid(G(9));
  PayloadRef empty_snapshot(empty.MakeSnapshot());
  EXPECT_EQ(empty_snapshot->size, 24u);
}

// A group with a name, two access entries and a small tree, and its record bytes by hand.
class GroupRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    group.set_guid(G(1));
    group.set_name(u"Grp");
    group.set_owner_uid(3);
    group.set_flags(GroupOpen | 0x40);  // unknown bits are kept as they stand
    group.set_access_list({4, 5 | AccessEntryGrant});
    group.SetData(store_test::Text("gd"));
    CMVS5Macro* m = Add(group, G(2), "m");
    Add(*m, G(3), "mm");
    root.Record(G(1), "gd", 1).Record(G(2), "m", 1).Record(G(3), "mm", 0);
    const auto n = static_cast<uint32_t>(28 + 6 + 8 + root.size());
    record.U32(n).U32(1).U32(3).U32(GroupOpen | 0x40).U32(3).U32(2)
        .U32(static_cast<uint32_t>(root.size())).Utf16(u"Grp").U32(4).U32(5 | AccessEntryGrant)
        .Append(root);
  }

  static void ExpectSameGroup(const CMVS5MacroGroup& a, const CMVS5MacroGroup& b) {
    EXPECT_EQ(a.name(), b.name());
    EXPECT_EQ(a.owner_uid(), b.owner_uid());
    EXPECT_EQ(a.flags(), b.flags());
    EXPECT_EQ(a.access_list(), b.access_list());
    EXPECT_EQ(RecordOf(a), RecordOf(b));
  }

  CMVS5MacroGroup group;
  Bytes root, record;
};

TEST_F(GroupRecordTest, WritesTheRecordByteForByte) {
  ASSERT_EQ(group.GroupRecordSize(), record.size());
  std::vector<std::byte> out(group.GroupRecordSize());
  platform::WriteCursor cursor(out);
  group.WriteGroupRecord(cursor);
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_EQ(out, record.v);
}

TEST_F(GroupRecordTest, ReadsItBackFresh) {
  record.Raw("next");
  platform::ReadCursor cursor(record.v);
  auto read = ReadGroupRecord(cursor);
  ASSERT_NE(read, nullptr);
  ExpectSameGroup(*read, group);
  EXPECT_EQ(read->guid(), G(1));
  EXPECT_EQ(read->revision(), 0u);
  EXPECT_EQ(read->lock_holder(), nullptr);
  EXPECT_EQ(cursor.remaining(), 4u);
}

TEST_F(GroupRecordTest, VersionTwoIsRejected) {
  platform::StoreU32(record.v.data() + 4, 2);
  platform::ReadCursor cursor(record.v);
  EXPECT_EQ(ReadGroupRecord(cursor), nullptr);
  EXPECT_EQ(cursor.remaining(), record.size());
}

TEST_F(GroupRecordTest, RootSizeFieldIsNotConsulted) {
  platform::StoreU32(record.v.data() + 24, 0xFFFFFFFF);
  platform::ReadCursor cursor(record.v);
  EXPECT_NE(ReadGroupRecord(cursor), nullptr);
  EXPECT_EQ(cursor.remaining(), 0u);
}

TEST_F(GroupRecordTest, NextRecordStartsAfterTheRootNotAfterTheTotal) {
  platform::StoreU32(record.v.data(), static_cast<uint32_t>(record.size() + 4));
  record.Raw("next");
  platform::ReadCursor cursor(record.v);
  ASSERT_NE(ReadGroupRecord(cursor), nullptr);
  EXPECT_EQ(cursor.remaining(), 4u);
}

TEST_F(GroupRecordTest, EveryTruncationFailsInsideTheBuffer) {
  for (size_t n = 0; n < record.size(); ++n) {
    Bytes cut;
    cut.v.assign(record.v.begin(), record.v.begin() + static_cast<std::ptrdiff_t>(n));
    const auto exact = cut.Exact();
    platform::ReadCursor cursor(exact.get(), n);
    EXPECT_EQ(ReadGroupRecord(cursor), nullptr) << n;
    EXPECT_EQ(cursor.remaining(), n);
  }
}

TEST_F(GroupRecordTest, SizesThatDisagreeWithTheBufferFail) {
  const struct {
    const char* name;
    size_t offset;
    uint32_t value;
  } cases[] = {
      {"total smaller than header, name and entries", 0, 28 + 6 + 7},
      {"total one byte short of the root", 0, static_cast<uint32_t>(record.size() - 1)},
      {"total past the buffer", 0, static_cast<uint32_t>(record.size() + 1)},
      {"total near 2^32", 0, 0xFFFFFFFF},
      {"name length past the record", 16, 0x7FFFFFFF},
      {"name length near 2^32", 16, 0xFFFFFFFF},
      {"entry count past the record", 20, 0x40000000},
      {"entry count near 2^32", 20, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    Bytes bad = record;
    platform::StoreU32(bad.v.data() + c.offset, c.value);
    const auto exact = bad.Exact();
    platform::ReadCursor cursor(exact.get(), bad.size());
    EXPECT_EQ(ReadGroupRecord(cursor), nullptr) << c.name;
  }
}

TEST_F(GroupRecordTest, ABrokenRootFailsTheGroup) {
  Bytes dup;
  dup.U32(28 + 74).U32(1).U32(0).U32(0).U32(0).U32(0).U32(74)
      .Record(G(1), "", 2).Record(G(2), "a", 0).Record(G(2), "b", 0);
  platform::ReadCursor cursor(dup.v);
  EXPECT_EQ(ReadGroupRecord(cursor), nullptr);
  // The same group without the duplicate reads, with an empty name and no entries.
  platform::StoreU32(dup.v.data() + 28 + 24 + 25, 0x99);
  platform::ReadCursor fixed(dup.v);
  auto read = ReadGroupRecord(fixed);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->children().size(), 2u);
  EXPECT_TRUE(read->name().empty());
}

}  // namespace
