// Welcome and login: the challenge response, every failure in its order, the login reply.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/bytes.h"
#include "store/user_account.h"
#include "support/server_process.h"
#include "support/store_builder.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

constexpr char16_t kTooSmall[] = u"Login packet is too small";
constexpr char16_t kBadCombination[] = u"Invalid username and password combination";
constexpr char16_t kTooOld[] = u"Invalid client version, minimum allowed client version is 5.0.68";

// Cuts a packet (or pads it with zero bytes) to `size` bytes and makes that its header size.
Bytes WithHeaderSize(Bytes packet, uint32_t size) {
  packet.resize(size);
  platform::StoreU32(packet.data() + 8, size);
  return packet;
}

class Login : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ServerProcess;
    StoreBuilder store;
    admin_uid_ = store.User(u"Admin", u"OwnerCode", UserAdmin);
    bob_uid_ = store.User(u"bob", u"b0b pass", 0);
    store.User(u"carl", u"c", UserNoGroupCreate);
    ASSERT_TRUE(store.SaveTo(server_->data_file()));
    ASSERT_TRUE(server_->StartAndWaitReady());
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(server_->Stop(), 1);
    delete server_;
  }

  static ServerProcess* server_;
  static uint32_t admin_uid_, bob_uid_;
};

ServerProcess* Login::server_ = nullptr;
uint32_t Login::admin_uid_ = 0;
uint32_t Login::bob_uid_ = 0;

TEST_F(Login, FailuresInTheirOrder) {
  using Make = std::function<Bytes(const std::array<uint8_t, 16>&)>;
  struct Case {
    const char* what;
    Make request;
    uint32_t status;
    std::u16string text;
    bool closes;
  };
  const std::u16string long_name(257, u'x'), longest_name(256, u'x');
  const Case cases[] = {
      {"command other than login", [](auto&) { return PacketBuilder(5).Build(); }, 2,
       u"You must login first.", false},
      {"header 107", [](auto& c) { return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c), 107); },
       1, kTooSmall, true},
      {"header 100, type 2",
       [](auto& c) {
         return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c, {5, 0, 68}, 2), 100);
       },
       1, kTooSmall, true},
      {"login type 2", [](auto& c) { return LoginRequest(u"bob", u"b0b pass", c, {5, 0, 68}, 2); },
       3, u"Invalid login type. Supported login types are: <password>.", false},
      {"header 108", [](auto& c) { return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c), 108); },
       1, kTooSmall, true},
      {"header 127", [](auto& c) { return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c), 127); },
       1, kTooSmall, true},
      {"name of 257 units", [&](auto& c) { return LoginRequest(long_name, u"p", c); }, 1,
       u"User name is too long.", true},
      {"name of 256 units", [&](auto& c) { return LoginRequest(longest_name, u"p", c); }, 4,
       kBadCombination, true},
      {"header one above 128 + 2n",
       [](auto& c) { return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c), 128 + 6 + 1); },
       1, u"Invalid packet header size", true},
      {"header one below 128 + 2n",
       [](auto& c) { return WithHeaderSize(LoginRequest(u"bob", u"b0b pass", c), 128 + 6 - 1); },
       1, u"Invalid packet header size", true},
      {"wrong password", [](auto& c) { return LoginRequest(u"bob", u"b0b Pass", c); }, 4,
       kBadCombination, true},
      {"unknown user", [](auto& c) { return LoginRequest(u"alice", u"b0b pass", c); }, 4,
       kBadCombination, true},
      {"name in another case", [](auto& c) { return LoginRequest(u"admin", u"OwnerCode", c); }, 4,
       kBadCombination, true},
      {"empty name", [](auto& c) { return LoginRequest(u"", u"", c); }, 4, kBadCombination, true},
      {"version 4.9.99", [](auto& c) { return LoginRequest(u"bob", u"b0b pass", c, {4, 9, 99}); },
       19, kTooOld, true},
      {"version 5.0.67", [](auto& c) { return LoginRequest(u"bob", u"b0b pass", c, {5, 0, 67}); },
       19, kTooOld, true},
  };
  for (const Case& c : cases) {
    TestClient client(server_->port());
    auto welcome = client.ReadWelcome();
    ASSERT_TRUE(welcome) << c.what;
    ASSERT_TRUE(client.Send(c.request(welcome->challenge)));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->command, 0u) << c.what;
    EXPECT_EQ(reply->status(), c.status) << c.what;
    EXPECT_EQ(reply->text(), c.text) << c.what;
    if (c.closes) {
      EXPECT_TRUE(client.WaitForEnd()) << c.what;
    } else {
      // Still waiting for a login: a correct one succeeds on the same connection.
      ASSERT_TRUE(client.Send(LoginRequest(u"bob", u"b0b pass", welcome->challenge)));
      auto login = client.Read();
      ASSERT_TRUE(login) << c.what;
      EXPECT_EQ(login->command, 4u) << c.what;
    }
  }
}

TEST_F(Login, AcceptedClientVersions) {
  for (std::array<uint32_t, 3> version : {std::array<uint32_t, 3>{5, 0, 68}, {5, 1, 0}, {6, 0, 0}}) {
    TestClient client(server_->port());
    auto reply = client.Login(u"bob", u"b0b pass", version);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, 4u) << version[0] << "." << version[1] << "." << version[2];
  }
}

TEST_F(Login, ResponseForOneConnectionFailsOnAnother) {
  TestClient first(server_->port()), second(server_->port());
  auto w1 = first.ReadWelcome();
  auto w2 = second.ReadWelcome();
  ASSERT_TRUE(w1 && w2);
  ASSERT_NE(w1->challenge, w2->challenge);
  ASSERT_TRUE(second.Send(LoginRequest(u"bob", u"b0b pass", w1->challenge)));
  auto reply = second.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status(), 4u);
}

TEST_F(Login, AdministratorReplyByteForByte) {
  const size_t before = server_->Lines().size();
  TestClient client(server_->port());
  auto reply = client.Login(u"Admin", u"OwnerCode");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->command, 4u);
  EXPECT_EQ(reply->header_size, 124u + 2 * 5);
  EXPECT_EQ(reply->data_size, 0u);
  EXPECT_EQ(reply->U32(24), 1u | 8u);  // UserAdmin, and bit 3 always
  for (size_t i = 28; i < 96; ++i) EXPECT_EQ(reply->header[i], std::byte{0}) << i;
  EXPECT_EQ(reply->U32(96), 5u);
  EXPECT_EQ(reply->U32(100), admin_uid_);
  EXPECT_GE(reply->U32(104), 1u);  // the session number
  const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
  EXPECT_EQ(std::memcmp(reply->header.data() + 108, mapped, 16), 0);
  EXPECT_EQ(reply->Utf16(124, 5), u"Admin");
  EXPECT_TRUE(server_->WaitForLine(", Admin logged in (admin)", 5s, before));
}

TEST_F(Login, RightsWordCarriesTheAccountFlags) {
  struct Case {
    const char16_t* name;
    const char16_t* password;
    uint32_t rights;
  };
  for (const Case c : {Case{u"bob", u"b0b pass", 8}, Case{u"carl", u"c", 2 | 8}}) {
    TestClient client(server_->port());
    auto reply = client.Login(c.name, c.password);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->U32(24), c.rights);
  }
  EXPECT_TRUE(server_->WaitForLine(", bob logged in", 0ms));
}

TEST_F(Login, SessionNumbersCountUpAndIpv6AddressIsCopied) {
  TestClient a(server_->port(), true);
  auto first = a.Login(u"bob", u"b0b pass");
  TestClient b(server_->port(), true);
  auto second = b.Login(u"bob", u"b0b pass");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second->U32(104), first->U32(104) + 1);
  in6_addr loopback = in6addr_loopback;
  EXPECT_EQ(std::memcmp(first->header.data() + 108, &loopback, 16), 0);
}

TEST_F(Login, CommandsAfterLogin) {
  TestClient client(server_->port());
  ASSERT_TRUE(client.Login(u"bob", u"b0b pass"));
  struct Case {
    uint32_t command;
    uint32_t status;
    std::u16string text;
  };
  const Case cases[] = {
      {3, 6, u"Invalid or unsupported command"},  // no second login
      {99, 6, u"Invalid or unsupported command"},
      {0, 6, u"Invalid or unsupported command"},
      {109, 16, u"Admin rights are required to perform this command"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(client.Send(PacketBuilder(c.command).Zeros(16).Build()));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << c.command;
    EXPECT_EQ(reply->status(), c.status) << c.command;
    EXPECT_EQ(reply->text(), c.text) << c.command;
  }
  ASSERT_TRUE(client.Send(PacketBuilder(1).Build()));  // still logged in and served
  EXPECT_TRUE(client.Read());
}

}  // namespace
}  // namespace testing_support
