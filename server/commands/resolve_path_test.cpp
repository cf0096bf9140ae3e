#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/settings.h"
#include "net/client_session.h"
#include "net/server.h"
#include "store/macro_path.h"

namespace {

platform::Guid G(uint8_t n) { return {{n, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}; }

// A session on a real loopback connection whose wait is never armed, so that a test can call
// its operations directly and read the reply it queued.
class ResolveWritablePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddGroup(G(1), GroupOpen, {});                   // everybody writes
    AddGroup(G(2), GroupOpen | GroupReadOnly, {});   // everybody reads
    AddGroup(G(3), 0, {});                           // nobody but administrators
    CMVS5MacroGroup& open = *settings_.data.groups()[0];
    auto top = std::make_unique<CMVS5Macro>();
    top->set_guid(G(10));
    top->SetData(std::vector<std::byte>(1));
    auto deep = std::make_unique<CMVS5Macro>();
    deep->set_guid(G(11));
    deep->SetData(std::vector<std::byte>(1));
    top->InsertChild(std::move(deep), -1);
    open.InsertChild(std::move(top), -1);

    server_ = std::make_unique<CMVServer5>(settings_);
    ASSERT_TRUE(server_->Initialize());
    listener_ = platform::Socket::OpenTcp6();
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    ASSERT_TRUE(listener_.Bind(a) && listener_.Listen(1));
  }
  void TearDown() override {
    session_.reset();
    if (client_ >= 0) close(client_);
  }
  void AddGroup(const platform::Guid& guid, uint32_t flags, std::vector<uint32_t> access) {
    auto group = std::make_unique<CMVS5MacroGroup>();
    group->set_guid(guid);
    group->set_flags(flags);
    group->set_access_list(std::move(access));
    settings_.data.AppendGroup(std::move(group));
  }
  // Resolves a path of these GUIDs as a user with `flags`; the status and text it queued, or
  // status 0 with the node's GUID when it found one.
  std::pair<uint32_t, std::u16string> Resolve(uint32_t flags, std::vector<platform::Guid> path,
                                              platform::Guid* found = nullptr) {
    session_ = Recreate();
    session_->user_flags = flags;
    session_->user_uid = 7;
    std::vector<std::byte> bytes(path.size() * 16);
    for (size_t i = 0; i < path.size(); ++i) std::memcpy(&bytes[i * 16], path[i].bytes.data(), 16);
    MacroPath macro_path{static_cast<uint32_t>(path.size()), bytes};
    platform::ScopedLock guard(settings_.data.Lock(), platform::LockMode::Exclusive);
    CMVS5Macro* node = session_->ResolveWritablePath(macro_path);
    if (node != nullptr) {
      if (found != nullptr) *found = node->guid();
      return {0, u""};
    }
    const std::byte* reply = session_->send_buffer().data();
    std::u16string text;
    platform::ReadCursor(reply + 32, 1024).Utf16(platform::LoadU32(reply + 28), text);
    return {platform::LoadU32(reply + 24), text};
  }
  // A fresh session for every case: each may queue one reply only.
  std::unique_ptr<CMVS5ClientSession> Recreate() {
    session_.reset();
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (client_ >= 0) close(client_);
    client_ = fd;
    sockaddr_in6 peer{};
    platform::Socket accepted = listener_.Accept(peer);
    return CMVS5ClientSession::CreateSession(*server_, accepted);
  }

  CMVS5Settings settings_;
  std::unique_ptr<CMVServer5> server_;
  platform::Socket listener_;
  int client_ = -1;
  std::unique_ptr<CMVS5ClientSession> session_;
};

TEST_F(ResolveWritablePathTest, RepliesInTheirOrder) {
  struct Case {
    uint32_t user_flags;
    std::vector<platform::Guid> path;
    uint32_t status;
    std::u16string text;
  };
  const Case cases[] = {
      {UserAdmin, {}, 9, u"Macro path is empty"},
      {0, {G(99)}, 7, u"Specified macro group was not found"},
      {0, {G(10)}, 7, u"Specified macro group was not found"},  // a macro, not a group
      {0, {G(3), G(10)}, 8, u"You do not have access to the specified macro group"},
      {0, {G(2)}, 8, u"You do not have write access to the specified macro group"},
      {0, {G(1), G(99)}, 7, u"Macro was not found"},
      {0, {G(1), G(11)}, 7, u"Macro was not found"},  // not a top-level macro
      {UserAdmin, {G(3), G(10)}, 7, u"Macro was not found"},  // access passes, path does not
  };
  for (const Case& c : cases) {
    const auto [status, text] = Resolve(c.user_flags, c.path);
    EXPECT_EQ(status, c.status) << c.path.size();
    EXPECT_EQ(text, c.text);
  }
}

TEST_F(ResolveWritablePathTest, FindsTheNodeTheWritableUserNames) {
  struct Case {
    uint32_t user_flags;
    std::vector<platform::Guid> path;
    platform::Guid node;
  };
  const Case cases[] = {
      {0, {G(1)}, G(1)},  // count 1: the group's root node
      {0, {G(1), G(10)}, G(10)},
      {0, {G(1), G(10), G(11)}, G(11)},
      {UserAdmin, {G(2)}, G(2)},  // administrators write to read-only groups
      {UserAdmin, {G(3)}, G(3)},
  };
  for (const Case& c : cases) {
    platform::Guid found{};
    EXPECT_EQ(Resolve(c.user_flags, c.path, &found).first, 0u);
    EXPECT_EQ(found, c.node);
  }
}

}  // namespace
