// Overlapping fetches of an unchanged group share one snapshot; a change makes a new one.
#include <gtest/gtest.h>

#include "commands/snapshot_cache.h"
#include "store/user_account.h"
#include "support/in_process_server.h"
#include "support/store_builder.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

const platform::Guid kBig = TestGuid(42);

// A group of about 12 MiB: more than the socket buffers hold, so a reply to a client that does
// not read stays in flight.
void FillBigGroup(CMVS5Data& data) {
  data.AddUser(UserAccount{u"Admin", u"OwnerCode", UserAdmin, 0});
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(kBig);
  group->set_name(u"Big");
  group->set_flags(GroupOpen);
  for (uint32_t i = 0; i < 12000; ++i) {
    auto macro = std::make_unique<CMVS5Macro>();
    platform::Guid g = TestGuid(0);
    std::memcpy(g.bytes.data() + 8, &i, sizeof i);
    macro->set_guid(g);
    const std::vector<std::byte> content(1000, static_cast<std::byte>(i));
    macro->SetData(content);
    group->InsertChild(std::move(macro), -1);
  }
  data.AppendGroup(std::move(group));
}

size_t CachedSnapshots(CMVServer5& server) {
  platform::ScopedLock guard(server.snapshot_cache.lock, platform::LockMode::Shared);
  return server.snapshot_cache.entries.size();
}

bool WaitForCache(CMVServer5& server, size_t entries) {
  for (int i = 0; i < 500; ++i) {
    if (CachedSnapshots(server) == entries) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(SnapshotCache, OverlappingFetchesShareOneSnapshot) {
  InProcessServer server(&FillBigGroup);
  TestClient slow(server.port(), false, 16 * 1024);
  TestClient quick(server.port());
  ASSERT_TRUE(slow.Login(u"Admin", u"OwnerCode"));
  ASSERT_TRUE(quick.Login(u"Admin", u"OwnerCode"));
  const Bytes fetch = PacketBuilder(7).Raw(kBig.bytes.data(), 16).Build();

  const uint64_t made = SnapshotsAdded();
  ASSERT_TRUE(slow.Send(fetch));  // its reply stays in flight: nobody reads it yet
  ASSERT_TRUE(WaitForCache(server.server(), 1));
  ASSERT_TRUE(quick.Send(fetch));
  auto second = quick.Read(30s);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->command, 8u);
  EXPECT_EQ(SnapshotsAdded() - made, 1u);  // the second fetch found the first one's snapshot
  EXPECT_EQ(CachedSnapshots(server.server()), 1u);

  auto first = slow.Read(30s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->data.size(), 24u + 12000 * (24 + 1000));
  EXPECT_EQ(first->data, second->data);
  EXPECT_TRUE(WaitForCache(server.server(), 0));  // the last send released it

  // A change of the group (its revision) makes the next fetch serialise the tree again.
  {
    CMVS5Data& data = server.settings().data;
    platform::ScopedLock guard(data.Lock(), platform::LockMode::Exclusive);
    CMVS5MacroGroup* group = data.FindGroup(kBig);
    const std::vector<std::byte> changed(1000, std::byte{0xEE});
    group->children().front()->SetData(changed);
    group->children().front()->TouchGroup();
  }
  ASSERT_TRUE(quick.Send(fetch));
  auto third = quick.Read(30s);
  ASSERT_TRUE(third);
  EXPECT_EQ(SnapshotsAdded() - made, 2u);
  EXPECT_NE(third->data, second->data);
  EXPECT_EQ(third->data[48], std::byte{0xEE});  // the first child's data, after two headers
}

}  // namespace
}  // namespace testing_support
