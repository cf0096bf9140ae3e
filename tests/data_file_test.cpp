// The store seen from the executable: what a start without a data file creates, when it is
// written, and the -addDefaultUser reset.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "store/data.h"
#include "support/server_process.h"
#include "support/store_builder.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

const platform::Guid kDefaultGroup = {{0xC5, 0x38, 0x60, 0x08, 0x1C, 0x7A, 0x01, 0x49, 0xA8, 0xC5,
                                       0xEF, 0x34, 0xE1, 0xD8, 0xBF, 0xB2}};

struct Stamp {
  timespec modified;
  std::string content;
  bool operator==(const Stamp& o) const {
    return modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           content == o.content;
  }
};

Stamp StampOf(const std::string& path) {
  struct stat st{};
  stat(path.c_str(), &st);
  return {st.st_mtim, ReadFile(path)};
}

// The accounts of a data file, as (name, password, flags, uid), and its UID counter.
struct Accounts {
  std::vector<UserAccount> users;
  uint32_t counter = 0;
};

Accounts AccountsIn(const std::string& path) {
  CMVS5Data data;
  EXPECT_TRUE(data.Load(path));
  return {data.users(), data.UidCounter()};
}

TEST(DataFile, StartWithoutDataFileWritesDefaultsOnlyAtStop) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  {
    TestClient client(server.port());
    auto reply = client.Login(u"Admin", u"OwnerCode");  // the default administrator exists
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 4u);
    EXPECT_EQ(reply->U32(100), 1u);
  }
  EXPECT_FALSE(FileExists(server.data_file()));  // neither addition made the store dirty
  EXPECT_EQ(server.Stop(), 1);

  CMVS5Data data;
  ASSERT_TRUE(data.Load(server.data_file()));
  ASSERT_EQ(data.groups().size(), 1u);
  const CMVS5MacroGroup& group = *data.groups()[0];
  EXPECT_EQ(group.guid(), kDefaultGroup);
  EXPECT_EQ(group.name(), u"Default Group");
  EXPECT_EQ(group.flags(), GroupOpen | GroupReadOnly);
  EXPECT_EQ(group.owner_uid(), 0u);
  EXPECT_TRUE(group.access_list().empty());
  EXPECT_TRUE(group.children().empty());
  EXPECT_EQ(group.data_size(), 0u);
  ASSERT_EQ(data.users().size(), 1u);
  EXPECT_EQ(data.users()[0].name, u"Admin");
  EXPECT_EQ(data.users()[0].password, u"OwnerCode");
  EXPECT_EQ(data.users()[0].flags, UserAdmin);
  EXPECT_EQ(data.users()[0].uid, 1u);
  EXPECT_FALSE(FileExists(server.data_file() + ".tmp"));
  EXPECT_FALSE(FileExists(server.data_file() + ".bak"));
  struct stat st{};
  stat(server.data_file().c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(DataFile, StoredGroupsAndAccountsAreKept) {
  ServerProcess server;
  StoreBuilder store;
  store.User(u"bob", u"pw", 0);
  store.Group(TestGuid(3), u"Mine", GroupOpen, 1);
  ASSERT_TRUE(store.SaveTo(server.data_file()));
  ASSERT_TRUE(server.StartAndWaitReady());
  EXPECT_EQ(server.Stop(), 1);
  CMVS5Data data;
  ASSERT_TRUE(data.Load(server.data_file()));
  ASSERT_EQ(data.groups().size(), 1u);  // no Default Group: the store had a group
  EXPECT_EQ(data.groups()[0]->name(), u"Mine");
  ASSERT_EQ(data.users().size(), 1u);  // no default administrator: the store had an account
  EXPECT_EQ(data.users()[0].name, u"bob");
}

TEST(DefaultUser, IntactAdministratorLeavesTheFileUntouched) {
  ServerProcess server;
  StoreBuilder store;
  store.User(u"Admin", u"OwnerCode", UserAdmin | UserNoGroupCreate);  // flags 3: not intact
  store.User(u"Admin", u"OwnerCode", UserAdmin);                      // intact
  store.User(u"Admin", u"other", UserAdmin);
  ASSERT_TRUE(store.SaveTo(server.data_file()));
  const Stamp before = StampOf(server.data_file());
  const RunResult r = server.Run({"-addDefaultUser"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(StampOf(server.data_file()) == before);
}

TEST(DefaultUser, ReplacesEveryAdminWithAFreshAccount) {
  struct Case {
    const char* what;
    std::u16string password;
    uint32_t flags;
  };
  const Case cases[] = {
      {"other password", u"changed", UserAdmin},
      {"flags 3", u"OwnerCode", UserAdmin | UserNoGroupCreate},
      {"not an administrator", u"OwnerCode", 0},
  };
  for (const Case& c : cases) {
    ServerProcess server;
    StoreBuilder store;
    store.User(u"Admin", c.password, c.flags);  // UID 1
    store.User(u"admin", u"OwnerCode", UserAdmin);  // UID 2: another name, it stays
    store.User(u"bob", u"pw", 0);                   // UID 3
    const uint32_t gone = store.User(u"temp", u"pw", 0);  // UID 4, deleted: never given again
    ASSERT_TRUE(store.data.RemoveUser(gone));
    store.User(u"Admin", u"x", UserAdmin);  // UID 5, a second Admin, also replaced
    ASSERT_TRUE(store.SaveTo(server.data_file()));

    const RunResult r = server.Run({"-addDefaultUser"});
    EXPECT_EQ(r.exit_code, 0) << c.what;
    const Accounts after = AccountsIn(server.data_file());
    ASSERT_EQ(after.users.size(), 3u) << c.what;
    EXPECT_EQ(after.users[0].name, u"admin");
    EXPECT_EQ(after.users[0].uid, 2u);
    EXPECT_EQ(after.users[1].name, u"bob");
    EXPECT_EQ(after.users[2].name, u"Admin");
    EXPECT_EQ(after.users[2].password, u"OwnerCode");
    EXPECT_EQ(after.users[2].flags, UserAdmin);
    EXPECT_EQ(after.users[2].uid, 6u) << c.what;  // one above the highest ever given
    EXPECT_EQ(after.counter, 6u);
  }
}

TEST(DefaultUser, WithRunResetsAndDoesNotStartTheServer) {
  ServerProcess server;
  const RunResult r = server.Run({"-run", "-addDefaultUser"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output.find("Ready and waiting"), std::string::npos);
  const Accounts after = AccountsIn(server.data_file());
  ASSERT_EQ(after.users.size(), 1u);
  EXPECT_EQ(after.users[0].uid, 1u);
}

TEST(DefaultUser, CounterKeptWhenNoAccountIsLeft) {
  ServerProcess server;
  StoreBuilder store;
  for (int i = 0; i < 7; ++i) store.User(u"u" + std::u16string(1, u'0' + i), u"pw", 0);
  for (uint32_t uid = 1; uid <= 7; ++uid) ASSERT_TRUE(store.data.RemoveUser(uid));
  ASSERT_TRUE(store.SaveTo(server.data_file()));
  ASSERT_TRUE(server.StartAndWaitReady());
  EXPECT_EQ(server.Stop(), 1);
  const Accounts after = AccountsIn(server.data_file());
  ASSERT_EQ(after.users.size(), 1u);
  EXPECT_EQ(after.users[0].name, u"Admin");
  EXPECT_EQ(after.users[0].uid, 8u);
}

}  // namespace
}  // namespace testing_support
