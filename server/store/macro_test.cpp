#include "store/macro.h"

#include <gtest/gtest.h>

#include "store/macro_group.h"
#include "store/store_test_util.h"

namespace {

using store_test::Add;
using store_test::Bytes;
using store_test::G;
using store_test::Node;

// Sessions are only compared by address; these stand in for two of them.
CMVS5ClientSession* const kAlice = reinterpret_cast<CMVS5ClientSession*>(0x1000);
CMVS5ClientSession* const kBob = reinterpret_cast<CMVS5ClientSession*>(0x2000);

// group 1
//   macro 2
//     macro 4
//     macro 5
//   macro 3
class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    group.set_guid(G(1));
    m2 = Add(group, G(2), "two");
    m3 = Add(group, G(3), "three");
    m4 = Add(*m2, G(4), "four");
    m5 = Add(*m2, G(5), "five");
  }

  static std::vector<std::byte> Path(std::initializer_list<int> guids) {
    Bytes b;
    for (int g : guids) b.Guid(G(static_cast<uint8_t>(g)));
    return b.v;
  }

  CMVS5MacroGroup group;
  CMVS5Macro *m2, *m3, *m4, *m5;
};

TEST_F(TreeTest, FindPathWalksDownFromTheNode) {
  EXPECT_EQ(group.FindPath({}), &group);
  EXPECT_EQ(group.FindPath(Path({2})), m2);
  EXPECT_EQ(group.FindPath(Path({2, 5})), m5);
  EXPECT_EQ(m2->FindPath(Path({4})), m4);
  EXPECT_EQ(group.FindPath(Path({4})), nullptr);  // not a top-level macro
  EXPECT_EQ(group.FindPath(Path({2, 5, 4})), nullptr);
  EXPECT_EQ(group.FindPath(Path({9, 2})), nullptr);
}

TEST_F(TreeTest, FindPathTakesTheFirstChildWithTheGuid) {
  CMVS5Macro* twin = Add(group, G(2), "twin");  // only possible by building a tree by hand
  EXPECT_EQ(group.FindPath(Path({2})), m2);
  EXPECT_NE(twin, m2);
}

TEST_F(TreeTest, InsertChildPlacesByIndexAndAppendsOutOfRange) {
  const struct {
    int32_t index;
    std::vector<int> order;
  } cases[] = {
      {0, {9, 2, 3}}, {1, {2, 9, 3}}, {2, {2, 3, 9}}, {3, {2, 3, 9}}, {-1, {2, 3, 9}},
      {INT32_MIN, {2, 3, 9}}, {INT32_MAX, {2, 3, 9}},
  };
  for (const auto& c : cases) {
    CMVS5MacroGroup g;
    Add(g, G(2), "a");
    Add(g, G(3), "b");
    auto child = Node(G(9), "new");
    CMVS5Macro* raw = child.get();
    g.InsertChild(std::move(child), c.index);
    EXPECT_EQ(raw->parent(), &g);
    std::vector<int> order;
    for (const auto& ch : g.children()) order.push_back(ch->guid().bytes[0]);
    EXPECT_EQ(order, c.order) << "index " << c.index;
  }
}

TEST_F(TreeTest, DetachHandsTheNodeOverAndKeepsTheOrder) {
  Add(group, G(6), "six");
  std::unique_ptr<CMVS5Macro> taken = m3->Detach();
  ASSERT_EQ(taken.get(), m3);
  EXPECT_EQ(m3->parent(), nullptr);
  ASSERT_EQ(group.children().size(), 2u);
  EXPECT_EQ(group.children()[0].get(), m2);
  EXPECT_EQ(group.children()[1]->guid(), G(6));
  EXPECT_EQ(m3->Detach(), nullptr);     // no parent any more
  EXPECT_EQ(group.Detach(), nullptr);   // a root has none

  m4->InsertChild(std::move(taken), 0);  // a move: the detached node goes elsewhere
  EXPECT_EQ(group.FindPath(Path({2, 4, 3})), m3);
}

TEST_F(TreeTest, DetachAndDeleteRemovesTheSubtree) {
  m2->DetachAndDelete();
  ASSERT_EQ(group.children().size(), 1u);
  EXPECT_EQ(group.children()[0].get(), m3);
  group.DetachAndDelete();  // a root is left to its owner
  EXPECT_EQ(group.children().size(), 1u);
}

TEST_F(TreeTest, TouchGroupBumpsTheRootGroupsRevision) {
  EXPECT_EQ(group.revision(), 0u);
  m5->TouchGroup();
  m3->TouchGroup();
  group.TouchGroup();
  EXPECT_EQ(group.revision(), 3u);
  EXPECT_EQ(m5->Group(), &group);

  std::unique_ptr<CMVS5Macro> loose = m2->Detach();
  EXPECT_EQ(m5->Group(), nullptr);
  m5->TouchGroup();  // root is no group: nothing to count
  EXPECT_EQ(group.revision(), 3u);
}

TEST_F(TreeTest, IsWithinFollowsTheParents) {
  EXPECT_TRUE(m5->IsWithin(*m2));
  EXPECT_TRUE(m2->IsWithin(*m2));
  EXPECT_TRUE(m5->IsWithin(group));
  EXPECT_FALSE(m2->IsWithin(*m5));
  EXPECT_FALSE(m3->IsWithin(*m2));
}

TEST_F(TreeTest, NonRecursiveLockLooksAtTheNodeOnly) {
  ASSERT_TRUE(m4->Lock(kBob, false));
  EXPECT_TRUE(m2->CanLock(kAlice, false));
  EXPECT_TRUE(m2->Lock(kAlice, false));
  EXPECT_EQ(m2->lock_holder(), kAlice);
  EXPECT_EQ(m4->lock_holder(), kBob);
  EXPECT_TRUE(m2->Lock(kAlice, false));  // again by the holder
  EXPECT_FALSE(m2->Lock(kBob, false));
  EXPECT_EQ(m2->lock_holder(), kAlice);
}

TEST_F(TreeTest, RecursiveLockFailsWithoutChangeWhenADescendantIsHeld) {
  ASSERT_TRUE(m5->Lock(kBob, false));
  EXPECT_FALSE(group.CanLock(kAlice, true));
  EXPECT_FALSE(group.Lock(kAlice, true));
  for (const CMVS5Macro* n : {static_cast<CMVS5Macro*>(&group), m2, m3, m4}) {
    EXPECT_EQ(n->lock_holder(), nullptr);
  }
  EXPECT_EQ(m5->lock_holder(), kBob);
  EXPECT_TRUE(m3->Lock(kAlice, true));  // a subtree that Bob does not touch

  EXPECT_TRUE(m2->CanLock(kBob, true));
  ASSERT_TRUE(m2->Lock(kBob, true));
  for (const CMVS5Macro* n : {m2, m4, m5}) EXPECT_EQ(n->lock_holder(), kBob);
}

TEST_F(TreeTest, RecursiveUnlockReleasesOwnLocksBelowAForeignOne) {
  ASSERT_TRUE(group.Lock(kAlice, false));
  ASSERT_TRUE(m2->Lock(kBob, false));
  ASSERT_TRUE(m4->Lock(kAlice, false));
  ASSERT_TRUE(m5->Lock(kBob, false));
  ASSERT_TRUE(m3->Lock(kAlice, false));

  m2->Unlock(kAlice, true);
  EXPECT_EQ(m2->lock_holder(), kBob);
  EXPECT_EQ(m4->lock_holder(), nullptr);
  EXPECT_EQ(m5->lock_holder(), kBob);
  EXPECT_EQ(m3->lock_holder(), kAlice);  // outside the subtree
  EXPECT_EQ(group.lock_holder(), kAlice);

  group.Unlock(kBob, false);  // not Bob's: nothing happens
  EXPECT_EQ(group.lock_holder(), kAlice);
  group.Unlock(kAlice, true);  // what a session's end does
  for (const CMVS5Macro* n : {static_cast<CMVS5Macro*>(&group), m3, m4}) {
    EXPECT_EQ(n->lock_holder(), nullptr);
  }
  EXPECT_EQ(m5->lock_holder(), kBob);
}

TEST(MacroPath, ReadsCountAndGuidsInsideTheBuffer) {
  Bytes b;
  b.U32(2).Guid(G(1)).Guid(G(2)).U32(77);
  platform::ReadCursor cursor(b.v);
  MacroPath path;
  ASSERT_TRUE(ReadMacroPath(cursor, path));
  EXPECT_EQ(path.count, 2u);
  EXPECT_EQ(path.At(0), G(1));
  EXPECT_EQ(path.At(1), G(2));
  EXPECT_EQ(path.size(), 36u);
  EXPECT_EQ(path.BelowGroup().size(), 16u);
  EXPECT_EQ(cursor.remaining(), 4u);

  for (uint32_t count : {3u, 0x10000000u, 0xFFFFFFFFu}) {
    Bytes bad;
    bad.U32(count).Guid(G(1)).Guid(G(2));
    platform::ReadCursor c(bad.v);
    EXPECT_FALSE(ReadMacroPath(c, path)) << count;
    EXPECT_EQ(c.remaining(), bad.size());
  }
  platform::ReadCursor short_count(b.v.data(), 3);
  EXPECT_FALSE(ReadMacroPath(short_count, path));
}

TEST(MacroPath, SamePathComparesCountAndGuids) {
  const auto read = [](const Bytes& b) {
    platform::ReadCursor c(b.v);
    MacroPath p;
    EXPECT_TRUE(ReadMacroPath(c, p));
    return p;
  };
  Bytes a, same, other_guid, shorter, empty1, empty2;
  a.U32(2).Guid(G(1)).Guid(G(2));
  same.U32(2).Guid(G(1)).Guid(G(2)).U32(5);  // what follows the path does not count
  other_guid.U32(2).Guid(G(1)).Guid(G(3));
  shorter.U32(1).Guid(G(1));
  empty1.U32(0);
  empty2.U32(0);
  EXPECT_TRUE(SamePath(read(a), read(same)));
  EXPECT_FALSE(SamePath(read(a), read(other_guid)));
  EXPECT_FALSE(SamePath(read(a), read(shorter)));
  EXPECT_TRUE(SamePath(read(empty1), read(empty2)));
}

}  // namespace
