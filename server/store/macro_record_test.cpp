#include <gtest/gtest.h>

#include "store/macro.h"
#include "store/macro_group.h"
#include "store/store_test_util.h"

namespace {

using store_test::Add;
using store_test::AsText;
using store_test::Bytes;
using store_test::G;
using store_test::G32;
using store_test::RecordOf;

TEST(MacroRecord, WritesHeaderDataAndChildrenInOrder) {
  CMVS5MacroGroup group;
  group.set_guid(G(1));
  CMVS5Macro* a = Add(group, G(2), "ab");
  Add(*a, G(3), "c");
  Add(group, G(4), "defg");

  Bytes expected;
  expected.Record(G(1), "", 2).Record(G(2), "ab", 1).Record(G(3), "c", 0).Record(G(4), "defg", 0);
  EXPECT_EQ(group.RecordSize(), expected.size());
  EXPECT_EQ(RecordOf(group), expected.v);
}

TEST(MacroRecord, ReadsWhatWasWrittenAndStopsAfterIt) {
  CMVS5MacroGroup group;
  group.set_guid(G(1));
  CMVS5Macro* a = Add(group, G(2), "ab");
  Add(*a, G(3), "c");
  Add(*a, G(5), "e");
  Add(group, G(4), "defg");
  Bytes bytes{RecordOf(*a)};
  bytes.Raw("tail");

  platform::ReadCursor cursor(bytes.v);
  uint32_t failure = 0;
  std::unique_ptr<CMVS5Macro> read = ReadMacroRecord(cursor, failure);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(cursor.remaining(), 4u);
  EXPECT_EQ(read->parent(), nullptr);
  EXPECT_EQ(read->guid(), G(2));
  EXPECT_EQ(AsText(read->data()), "ab");
  ASSERT_EQ(read->children().size(), 2u);
  EXPECT_EQ(read->children()[0]->guid(), G(3));
  EXPECT_EQ(read->children()[1]->guid(), G(5));
  EXPECT_EQ(read->children()[1]->parent(), read.get());
  EXPECT_EQ(RecordOf(*read), RecordOf(*a));
}

// Each case: the record bytes, the expected failure and where the cursor must stand afterwards.
struct ReadCase {
  const char* name;
  Bytes bytes;
  uint32_t failure;
  size_t cursor_at;
};

std::vector<ReadCase> FailingRecords() {
  std::vector<ReadCase> cases;
  cases.push_back({"shorter than a header", Bytes{}.Guid(G(1)).U32(1).Raw("abc"),
                   RecordTruncated, 0});
  cases.push_back({"top node without data", Bytes{}.Record(G(1), "", 0), RecordEmptyData, 0});
  cases.push_back({"data one byte short", Bytes{}.Guid(G(1)).U32(4).U32(0).Raw("abc"),
                   RecordTruncated, 0});
  cases.push_back({"data size near 2^32", Bytes{}.Guid(G(1)).U32(0xFFFFFFFF).U32(0).Raw("abc"),
                   RecordTruncated, 0});
  cases.push_back({"data size 2^32 - 24",
                   Bytes{}.Guid(G(1)).U32(0xFFFFFFE8).U32(0).Raw("abcdefghijklmnopqrstuvwxyz"),
                   RecordTruncated, 0});
  cases.push_back({"child without data", Bytes{}.Record(G(1), "x", 1).Record(G(2), "", 0),
                   RecordEmptyData, 25});
  cases.push_back({"fewer children than counted",
                   Bytes{}.Record(G(1), "x", 2).Record(G(2), "y", 0), RecordTruncated, 50});
  cases.push_back({"child one byte short",
                   Bytes{}.Record(G(1), "x", 1).Guid(G(2)).U32(2).U32(0).Raw("y"),
                   RecordTruncated, 25});
  cases.push_back({"two siblings share a GUID",
                   Bytes{}.Record(G(1), "x", 3).Record(G(2), "a", 0).Record(G(3), "b", 0)
                       .Record(G(2), "c", 0),
                   RecordDuplicateGuid, 75});
  cases.push_back({"duplicate with its own subtree",
                   Bytes{}.Record(G(1), "x", 2).Record(G(2), "a", 0).Record(G(2), "b", 1)
                       .Record(G(7), "c", 0),
                   RecordDuplicateGuid, 50});
  cases.push_back({"a failure inside the duplicate's subtree comes first",
                   Bytes{}.Record(G(1), "x", 2).Record(G(2), "a", 0).Record(G(2), "b", 1)
                       .Record(G(7), "", 0),
                   RecordEmptyData, 75});
  cases.push_back({"duplicate deep down",
                   Bytes{}.Record(G(1), "x", 1).Record(G(2), "y", 2).Record(G(3), "a", 0)
                       .Record(G(3), "b", 0),
                   RecordDuplicateGuid, 75});
  return cases;
}

TEST(ReadMacroRecord, ReportsEachFailureAndWhereItStopped) {
  for (const ReadCase& c : FailingRecords()) {
    const auto exact = c.bytes.Exact();  // ASan shows any read past the end
    platform::ReadCursor cursor(exact.get(), c.bytes.size());
    uint32_t failure = 0;
    EXPECT_EQ(ReadMacroRecord(cursor, failure), nullptr) << c.name;
    EXPECT_EQ(failure, c.failure) << c.name;
    EXPECT_EQ(c.bytes.size() - cursor.remaining(), c.cursor_at) << c.name;
  }
}

TEST(ReadMacroRecord, EveryTruncationOfAGoodRecordFails) {
  Bytes good;
  good.Record(G(1), "abc", 2).Record(G(2), "d", 1).Record(G(3), "efg", 0).Record(G(4), "h", 0);
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut;
    cut.v.assign(good.v.begin(), good.v.begin() + static_cast<std::ptrdiff_t>(n));
    const auto exact = cut.Exact();
    platform::ReadCursor cursor(exact.get(), n);
    uint32_t failure = 0;
    EXPECT_EQ(ReadMacroRecord(cursor, failure), nullptr) << n;
    EXPECT_EQ(failure, RecordTruncated) << n;
  }
}

TEST(ReadMacroRecord, SameGuidUnderDifferentParentsIsFine) {
  Bytes b;
  b.Record(G(1), "x", 2).Record(G(2), "a", 1).Record(G(9), "b", 0).Record(G(3), "c", 1)
      .Record(G(9), "d", 0);
  platform::ReadCursor cursor(b.v);
  uint32_t failure = 0;
  auto read = ReadMacroRecord(cursor, failure);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(cursor.remaining(), 0u);
}

TEST(ReadMacroRecord, FirstDuplicateAmongManyChildrenIsReported) {
  // Enough children that the sibling check is hashed: it must still stop at the first repeat.
  constexpr uint32_t kChildren = 500;
  Bytes b;
  b.Record(G(1), "x", kChildren);
  size_t first_repeat = 0;
  for (uint32_t i = 0; i < kChildren; ++i) {
    uint32_t id = i;
    if (i == 300) id = 20, first_repeat = b.size();
    if (i == 400) id = 10;
    b.Record(G32(id + 100), "d", 0);
  }
  platform::ReadCursor cursor(b.v);
  uint32_t failure = 0;
  EXPECT_EQ(ReadMacroRecord(cursor, failure), nullptr);
  EXPECT_EQ(failure, RecordDuplicateGuid);
  EXPECT_EQ(b.size() - cursor.remaining(), first_repeat);
  EXPECT_EQ(LoadGuid(cursor.position()), G32(120));
}

TEST(ReadMacroRecord, AGroupRootMayBeEmptyButItsMacrosMayNot) {
  CMVS5MacroGroup root;
  Bytes ok;
  ok.Record(G(1), "", 1).Record(G(2), "a", 0);
  platform::ReadCursor cursor(ok.v);
  uint32_t failure = 0;
  ASSERT_TRUE(ReadMacroRecord(cursor, failure, root));
  EXPECT_EQ(root.guid(), G(1));
  EXPECT_EQ(root.data_size(), 0u);
  ASSERT_EQ(root.children().size(), 1u);
  EXPECT_EQ(root.children()[0]->parent(), &root);

  CMVS5MacroGroup other;
  Bytes bad;
  bad.Record(G(1), "", 1).Record(G(2), "", 0);
  platform::ReadCursor bad_cursor(bad.v);
  EXPECT_FALSE(ReadMacroRecord(bad_cursor, failure, other));
  EXPECT_EQ(failure, RecordEmptyData);
}

// group 1 (data "g")
//   2 "two"
//     4 "four"
//   3 "three"
class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    group.set_guid(G(1));
    group.SetData(store_test::Text("g"));
    m2 = Add(group, G(2), "two");
    m3 = Add(group, G(3), "three");
    m4 = Add(*m2, G(4), "four");
  }

  // Runs the check pass and, when it succeeds, the apply pass.
  bool Update(CMVS5Macro& node, const Bytes& record) {
    const auto exact = record.Exact();
    platform::ReadCursor check(exact.get(), record.size());
    if (!node.ApplyRecord(check, true)) return false;
    platform::ReadCursor apply(exact.get(), record.size());
    EXPECT_TRUE(node.ApplyRecord(apply, false));
    return true;
  }

  std::vector<std::string> Data() const {
    return {AsText(group.data()), AsText(m2->data()), AsText(m3->data()), AsText(m4->data())};
  }

  CMVS5MacroGroup group;
  CMVS5Macro *m2, *m3, *m4;
};

TEST_F(ApplyTest, ReplacesTheNamedNodesInAnyOrderAndKeepsTheRest) {
  Bytes b;
  // The top GUID is not compared; child records come in another order than the children.
  b.Record(G(77), "G", 2).Record(G(3), "THREE", 0).Record(G(2), "2", 1).Record(G(4), "4", 0);
  ASSERT_TRUE(Update(group, b));
  EXPECT_EQ(Data(), (std::vector<std::string>{"G", "2", "THREE", "4"}));

  Bytes only_m2;
  only_m2.Record(G(2), "again", 0);
  ASSERT_TRUE(Update(*m2, only_m2));
  EXPECT_EQ(Data(), (std::vector<std::string>{"G", "again", "THREE", "4"}));
  EXPECT_EQ(group.children().size(), 2u);
  EXPECT_EQ(m2->children().size(), 1u);
}

TEST_F(ApplyTest, AnInvalidRecordChangesNothingInTheCheckPass) {
  const struct {
    const char* name;
    Bytes record;
  } cases[] = {
      {"unknown child after a known one",
       Bytes{}.Record(G(1), "G", 2).Record(G(2), "2", 0).Record(G(9), "9", 0)},
      {"grandchild named at the wrong level",
       Bytes{}.Record(G(1), "G", 1).Record(G(4), "4", 0)},
      {"macro without data", Bytes{}.Record(G(1), "G", 1).Record(G(3), "", 0)},
      {"child record cut short", Bytes{}.Record(G(1), "G", 1).Guid(G(3)).U32(5).U32(0).Raw("abc")},
      {"more child records counted than present", Bytes{}.Record(G(1), "G", 2).Record(G(2), "2", 0)},
      {"header only partly there", Bytes{}.Guid(G(1)).U32(0)},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Update(group, c.record)) << c.name;
    EXPECT_EQ(Data(), (std::vector<std::string>{"g", "two", "three", "four"})) << c.name;
  }
}

TEST_F(ApplyTest, OnlyAGroupRootTakesEmptyData) {
  ASSERT_TRUE(Update(group, Bytes{}.Record(G(1), "", 0)));
  EXPECT_EQ(group.data_size(), 0u);
  EXPECT_TRUE(group.data().empty());
  EXPECT_FALSE(Update(*m2, Bytes{}.Record(G(2), "", 0)));
  EXPECT_EQ(AsText(m2->data()), "two");
}

TEST(ApplyRecord, FindsChildrenOfAWideNode) {
  constexpr uint32_t kChildren = 300;
  CMVS5MacroGroup group;
  for (uint32_t i = 0; i < kChildren; ++i) Add(group, G32(i + 1), "old");
  Bytes b;
  b.Record(G(1), "", kChildren);
  for (uint32_t i = kChildren; i > 0; --i) b.Record(G32(i), "new" + std::to_string(i), 0);
  platform::ReadCursor check(b.v);
  ASSERT_TRUE(group.ApplyRecord(check, true));
  EXPECT_EQ(AsText(group.children()[0]->data()), "old");
  platform::ReadCursor apply(b.v);
  ASSERT_TRUE(group.ApplyRecord(apply, false));
  for (uint32_t i = 0; i < kChildren; ++i) {
    EXPECT_EQ(AsText(group.children()[i]->data()), "new" + std::to_string(i + 1));
  }
  Bytes unknown;
  unknown.Record(G(1), "", 1).Record(G32(kChildren + 1), "x", 0);
  platform::ReadCursor c(unknown.v);
  EXPECT_FALSE(group.ApplyRecord(c, true));
}

}  // namespace
