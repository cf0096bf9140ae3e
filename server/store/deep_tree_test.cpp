// A chain of macros as deep as an 8 MiB record allows must be handled without recursion: sized,
// written, read, applied, locked, unlocked, saved, loaded and destroyed on a normal stack.
#include <gtest/gtest.h>

#include "protocol/shared_payload.h"
#include "store/data.h"
#include "store/store_test_util.h"

namespace {

using store_test::G32;
using store_test::TempDir;

constexpr uint32_t kDepth = 350000;

CMVS5ClientSession* const kSession = reinterpret_cast<CMVS5ClientSession*>(0x1000);
CMVS5ClientSession* const kOther = reinterpret_cast<CMVS5ClientSession*>(0x2000);

// A group whose single top-level macro starts a chain of kDepth macros with one data byte each.
std::unique_ptr<CMVS5MacroGroup> DeepGroup(CMVS5Macro** deepest) {
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(G32(0));
  CMVS5Macro* tip = group.get();
  const std::byte one[1] = {std::byte{'d'}};
  for (uint32_t i = 1; i <= kDepth; ++i) {
    auto node = std::make_unique<CMVS5Macro>();
    node->set_guid(G32(i));
    node->SetData(one);
    CMVS5Macro* raw = node.get();
    tip->InsertChild(std::move(node), -1);
    tip = raw;
  }
  *deepest = tip;
  return group;
}

TEST(DeepTree, RecordsRoundTripWithoutRecursion) {
  CMVS5Macro* deepest = nullptr;
  auto group = DeepGroup(&deepest);
  ASSERT_EQ(group->RecordSize(), 24u + uint64_t{kDepth} * 25);
  const std::vector<std::byte> record = store_test::RecordOf(*group);

  CMVS5MacroGroup read;
  platform::ReadCursor cursor(record);
  uint32_t failure = 0;
  ASSERT_TRUE(ReadMacroRecord(cursor, failure, read));
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_EQ(store_test::RecordOf(read), record);

  // Every node gets new data: the check pass and the apply pass both walk the whole chain.
  std::vector<std::byte> update = record;
  for (size_t at = 24 + 24; at < update.size(); at += 25) update[at] = std::byte{'u'};
  platform::ReadCursor check(update);
  ASSERT_TRUE(group->ApplyRecord(check, true));
  EXPECT_EQ(deepest->data()[0], std::byte{'d'});
  platform::ReadCursor apply(update);
  ASSERT_TRUE(group->ApplyRecord(apply, false));
  EXPECT_EQ(deepest->data()[0], std::byte{'u'});

  PayloadRef snapshot(group->MakeSnapshot());
  EXPECT_EQ(snapshot->size, record.size());
}

TEST(DeepTree, ADeepRecordThatFailsAtTheBottomIsFreed) {
  CMVS5Macro* deepest = nullptr;
  auto group = DeepGroup(&deepest);
  std::vector<std::byte> record = store_test::RecordOf(*group);
  record.pop_back();  // the deepest data byte is missing
  platform::ReadCursor cursor(record);
  uint32_t failure = 0;
  CMVS5MacroGroup root;
  EXPECT_FALSE(ReadMacroRecord(cursor, failure, root));
  EXPECT_EQ(failure, RecordTruncated);
  EXPECT_TRUE(root.children().empty());
}

TEST(DeepTree, LocksCoverTheWholeChain) {
  CMVS5Macro* deepest = nullptr;
  auto group = DeepGroup(&deepest);
  ASSERT_TRUE(deepest->Lock(kOther, false));
  EXPECT_FALSE(group->CanLock(kSession, true));
  EXPECT_FALSE(group->Lock(kSession, true));
  deepest->Unlock(kOther, false);
  ASSERT_TRUE(group->Lock(kSession, true));
  EXPECT_EQ(deepest->lock_holder(), kSession);
  group->Unlock(kSession, true);
  EXPECT_EQ(deepest->lock_holder(), nullptr);
  deepest->TouchGroup();
  EXPECT_EQ(group->revision(), 1u);
}

TEST(DeepTree, SavesAndLoads) {
  TempDir dir;
  CMVS5Data data;
  CMVS5Macro* deepest = nullptr;
  data.AppendGroup(DeepGroup(&deepest));
  ASSERT_TRUE(data.Save(dir.File("d.dat")));
  CMVS5Data loaded;
  ASSERT_TRUE(loaded.Load(dir.File("d.dat")));
  ASSERT_EQ(loaded.groups().size(), 1u);
  EXPECT_EQ(loaded.groups()[0]->RecordSize(), data.groups()[0]->RecordSize());
}

}  // namespace
