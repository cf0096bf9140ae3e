// Group browsing: listing the visible groups, fetching a group's tree, reading access settings.
#include <gtest/gtest.h>

#include <map>

#include "platform/bytes.h"
#include "store/macro_group.h"
#include "store/user_account.h"
#include "support/server_process.h"
#include "support/store_builder.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

struct Summary {
  uint32_t rights;
  std::u16string name;
};

// The group list reply's records by GUID, checking their framing on the way.
std::map<platform::Guid, Summary, bool (*)(const platform::Guid&, const platform::Guid&)> Parse(
    const Packet& reply) {
  std::map<platform::Guid, Summary, bool (*)(const platform::Guid&, const platform::Guid&)> out(
      [](const platform::Guid& a, const platform::Guid& b) { return a.bytes < b.bytes; });
  platform::ReadCursor c(reply.data);
  for (uint32_t i = 0; i < reply.U32(24); ++i) {
    uint32_t length = 0, rights = 0, units = 0;
    platform::Guid guid;
    std::u16string name;
    EXPECT_TRUE(c.U32(length) && c.Copy(guid.bytes.data(), 16) && c.U32(rights) &&
                c.U32(units) && c.Utf16(units, name));
    EXPECT_EQ(length, 28 + 2 * units);
    out[guid] = {rights, name};
  }
  EXPECT_EQ(c.remaining(), 0u);
  return out;
}

Bytes GroupRequest(uint32_t command, const platform::Guid& guid) {
  return PacketBuilder(command).Raw(guid.bytes.data(), 16).Build();
}

const platform::Guid kDefault = {{0xC5, 0x38, 0x60, 0x08, 0x1C, 0x7A, 0x01, 0x49, 0xA8, 0xC5, 0xEF,
                                  0x34, 0xE1, 0xD8, 0xBF, 0xB2}};
const platform::Guid kOpen = TestGuid(1), kMembers = TestGuid(2), kExcluding = TestGuid(3),
                     kEmpty = TestGuid(4), kMacro = TestGuid(9);

class Browsing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ServerProcess;
    StoreBuilder store;
    store.User(u"Admin", u"OwnerCode", UserAdmin);                    // UID 1
    const uint32_t bob = store.User(u"bob", u"pw", 0);                 // UID 2
    const uint32_t carl = store.User(u"carl", u"pw", 0);               // UID 3
    store.Group(kDefault, u"Default Group", GroupOpen | GroupReadOnly);
    CMVS5MacroGroup& open = store.Group(kOpen, u"Open", GroupOpen, bob);
    store.Macro(store.Macro(open, kMacro, "top"), TestGuid(10), "child");
    store.Group(kMembers, u"Members", 0, 1, {bob | AccessEntryGrant});
    store.Group(kExcluding, u"Excluding", GroupOpen, 1, {carl, bob});
    store.Group(kEmpty, u"Empty", 0, 1, {});  // closed, no members: administrators only
    ASSERT_TRUE(store.SaveTo(server_->data_file()));
    ASSERT_TRUE(server_->StartAndWaitReady());
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(server_->Stop(), 1);
    delete server_;
  }
  static TestClient As(const char16_t* name) {
    TestClient client(server_->port());
    auto reply = client.Login(name, name == std::u16string(u"Admin") ? u"OwnerCode" : u"pw");
    EXPECT_TRUE(reply && reply->command == 4);
    return client;
  }
  static Packet Ask(TestClient& client, const Bytes& request) {
    EXPECT_TRUE(client.Send(request));
    auto reply = client.Read();
    EXPECT_TRUE(reply);
    return reply ? *reply : Packet{};
  }

  static ServerProcess* server_;
};

ServerProcess* Browsing::server_ = nullptr;

TEST_F(Browsing, AdministratorSeesEveryGroupAndMayWriteAll) {
  TestClient admin = As(u"Admin");
  const Packet reply = Ask(admin, PacketBuilder(5).Build());
  EXPECT_EQ(reply.command, 6u);
  EXPECT_EQ(reply.header_size, 28u);
  EXPECT_EQ(reply.U32(24), 5u);
  auto groups = Parse(reply);
  ASSERT_EQ(groups.size(), 5u);
  EXPECT_EQ(groups[kDefault].rights, 1u);     // no account owns the Default Group
  EXPECT_EQ(groups[kOpen].rights, 1u);        // owned by bob
  EXPECT_EQ(groups[kMembers].rights, 1u | 2u);
  EXPECT_EQ(groups[kEmpty].rights, 1u | 2u);
  EXPECT_EQ(groups[kOpen].name, u"Open");
}

TEST_F(Browsing, UserSeesWhatTheAccessRulesAllow) {
  struct Case {
    const char16_t* user;
    std::map<int, uint32_t> visible;  // index into kGuids -> rights
  };
  const platform::Guid guids[] = {kDefault, kOpen, kMembers, kExcluding, kEmpty};
  const Case cases[] = {
      // bob: reads the Default Group, owns and writes Open, is a member of the closed Members,
      // and is excluded from the open Excluding (an entry without grant in an open group).
      {u"bob", {{0, 0}, {1, 1 | 2}, {2, 1}}},
      {u"carl", {{0, 0}, {1, 1}}},
  };
  for (const Case& c : cases) {
    TestClient client = As(c.user);
    auto groups = Parse(Ask(client, PacketBuilder(5).Build()));
    EXPECT_EQ(groups.size(), c.visible.size());
    for (const auto& [index, rights] : c.visible) {
      ASSERT_TRUE(groups.count(guids[index])) << index;
      EXPECT_EQ(groups[guids[index]].rights, rights) << index;
    }
  }
}

TEST_F(Browsing, ListRequestFieldsAreIgnored) {
  TestClient client = As(u"carl");
  const Packet reply = Ask(client, PacketBuilder(5).Zeros(100).Data(Bytes(10)).Build());
  EXPECT_EQ(reply.command, 6u);
  EXPECT_EQ(reply.U32(24), 2u);
}

TEST_F(Browsing, FetchReturnsSummaryAndTree) {
  TestClient client = As(u"bob");
  const Packet reply = Ask(client, GroupRequest(7, kOpen));
  ASSERT_EQ(reply.command, 8u);
  EXPECT_EQ(reply.header_size, 24u + 28 + 2 * 4);
  EXPECT_EQ(reply.U32(24), 28u + 8);  // the summary's record length
  EXPECT_EQ(reply.U32(44), 1u | 2u);
  EXPECT_EQ(reply.Utf16(52, 4), u"Open");
  // Root record: group GUID, no data, one child; the child "top" with one child "child".
  platform::ReadCursor c(reply.data);
  platform::Guid guid;
  uint32_t size = 0, children = 0;
  ASSERT_TRUE(c.Copy(guid.bytes.data(), 16) && c.U32(size) && c.U32(children));
  EXPECT_EQ(guid, kOpen);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(children, 1u);
  EXPECT_EQ(reply.data.size(), 24u + (24 + 3) + (24 + 5));
}

TEST_F(Browsing, FetchOfAnEmptyGroupSendsItsBareRecord) {
  TestClient admin = As(u"Admin");
  const Packet reply = Ask(admin, GroupRequest(7, kEmpty));
  ASSERT_EQ(reply.command, 8u);
  ASSERT_EQ(reply.data.size(), 24u);
  EXPECT_EQ(std::memcmp(reply.data.data(), kEmpty.bytes.data(), 16), 0);
  EXPECT_EQ(platform::LoadU32(reply.data.data() + 16), 0u);
  EXPECT_EQ(platform::LoadU32(reply.data.data() + 20), 0u);
}

TEST_F(Browsing, FetchFailures) {
  struct Case {
    const char16_t* user;
    Bytes request;
    uint32_t status;
    std::u16string text;
  };
  const Case cases[] = {
      {u"bob", PacketBuilder(7).Build(), 1, u"Invalid packet header size"},
      {u"bob", PacketBuilder(7).Raw(kOpen.bytes.data(), 16).Zeros(1).Build(), 1,
       u"Invalid packet header size"},
      {u"bob", GroupRequest(7, TestGuid(77)), 7, u"Requested macro group was not found"},
      {u"bob", GroupRequest(7, kMacro), 7, u"Requested macro group was not found"},
      {u"carl", GroupRequest(7, kMembers), 8,
       u"Access to the requested group is denied for this user"},
      {u"bob", GroupRequest(7, kExcluding), 8,
       u"Access to the requested group is denied for this user"},
      {u"Admin", PacketBuilder(109).Build(), 1, u"Invalid packet header size"},
      {u"Admin", GroupRequest(109, TestGuid(77)), 7, u"Requested macro group was not found"},
  };
  for (const Case& c : cases) {
    TestClient client = As(c.user);
    const Packet reply = Ask(client, c.request);
    EXPECT_EQ(reply.command, 0u);
    EXPECT_EQ(reply.status(), c.status);
    EXPECT_EQ(reply.text(), c.text);
    // The session stays logged in.
    const Packet again = Ask(client, PacketBuilder(5).Build());
    EXPECT_EQ(again.command, 6u);
  }
}

TEST_F(Browsing, ReadOnlyGroupCanBeFetched) {
  TestClient client = As(u"carl");
  EXPECT_EQ(Ask(client, GroupRequest(7, kDefault)).command, 8u);
}

TEST_F(Browsing, AccessSettings) {
  TestClient admin = As(u"Admin");
  const Packet none = Ask(admin, GroupRequest(109, kDefault));
  ASSERT_EQ(none.command, 110u);
  EXPECT_EQ(none.header_size, 52u);
  EXPECT_EQ(none.data_size, 0u);
  EXPECT_EQ(none.U32(40), GroupOpen | GroupReadOnly);
  EXPECT_EQ(none.U32(44), 0u);
  EXPECT_EQ(none.U32(48), 0u);

  const Packet two = Ask(admin, GroupRequest(109, kExcluding));
  ASSERT_EQ(two.command, 110u);
  EXPECT_EQ(std::memcmp(two.header.data() + 24, kExcluding.bytes.data(), 16), 0);
  EXPECT_EQ(two.U32(40), GroupOpen);
  EXPECT_EQ(two.U32(44), 1u);
  EXPECT_EQ(two.U32(48), 2u);
  ASSERT_EQ(two.data.size(), 16u);
  EXPECT_EQ(platform::LoadU32(two.data.data()), 3u);  // carl, no grant
  EXPECT_EQ(platform::LoadU32(two.data.data() + 4), 0u);
  EXPECT_EQ(platform::LoadU32(two.data.data() + 8), 2u);  // bob

  const Packet member = Ask(admin, GroupRequest(109, kMembers));
  ASSERT_EQ(member.data.size(), 8u);
  EXPECT_EQ(platform::LoadU32(member.data.data()), 2u);
  EXPECT_EQ(platform::LoadU32(member.data.data() + 4), 1u);  // the grant bit became 1
}

TEST(BrowsingEmpty, NothingVisibleGivesAnEmptyList) {
  ServerProcess server;
  StoreBuilder store;
  store.User(u"Admin", u"OwnerCode", UserAdmin);
  store.User(u"dora", u"pw", 0);
  store.Group(TestGuid(5), u"Closed", 0, 1);
  ASSERT_TRUE(store.SaveTo(server.data_file()));
  ASSERT_TRUE(server.StartAndWaitReady());
  {
    TestClient client(server.port());
    ASSERT_TRUE(client.Login(u"dora", u"pw"));
    ASSERT_TRUE(client.Send(PacketBuilder(5).Build()));
    auto reply = client.Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 6u);
    EXPECT_EQ(reply->header_size, 28u);
    EXPECT_EQ(reply->data_size, 0u);
    EXPECT_EQ(reply->U32(24), 0u);
  }
  EXPECT_EQ(server.Stop(), 1);
}

TEST(BrowsingLarge, ListLargerThanTheSendBufferGoesInOnePayload) {
  ServerProcess server;
  StoreBuilder store;
  store.User(u"Admin", u"OwnerCode", UserAdmin);
  for (uint8_t i = 0; i < 40; ++i) store.Group(TestGuid(100 + i), std::u16string(30, u'a' + i % 26), 1);
  ASSERT_TRUE(store.SaveTo(server.data_file()));
  ASSERT_TRUE(server.StartAndWaitReady());
  {
    TestClient client(server.port());
    ASSERT_TRUE(client.Login(u"Admin", u"OwnerCode"));
    ASSERT_TRUE(client.Send(PacketBuilder(5).Build()));
    auto reply = client.Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->U32(24), 40u);
    EXPECT_EQ(reply->data_size, 40u * (28 + 60));
    EXPECT_EQ(Parse(*reply).size(), 40u);
  }
  EXPECT_EQ(server.Stop(), 1);
}

}  // namespace
}  // namespace testing_support
