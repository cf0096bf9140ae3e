// Packet framing: header assembly and validation, data parts, echo, status replies.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <thread>

#include "support/server_process.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

// One server for the whole suite: each test uses connections of its own.
class Framing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ServerProcess;
    ASSERT_TRUE(server_->StartAndWaitReady());
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(server_->Stop(), 1);
    delete server_;
    server_ = nullptr;
  }
  // A client past the welcome packet.
  static TestClient Connected() {
    TestClient client(server_->port());
    EXPECT_TRUE(client.connected());
    EXPECT_TRUE(client.ReadWelcome());
    return client;
  }
  static Bytes Echo(Bytes extension, Bytes data = {}) {
    PacketBuilder b(1);
    b.Raw(extension.data(), extension.size());
    return b.Data(std::move(data)).Build();
  }
  static Bytes Pattern(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<std::byte>(i * 7 + 3);
    return out;
  }

  static ServerProcess* server_;
};

ServerProcess* Framing::server_ = nullptr;

TEST_F(Framing, WelcomeCarriesVersionChallengeAndText) {
  TestClient a(server_->port());
  TestClient b(server_->port());
  auto wa = a.ReadWelcome();
  auto wb = b.ReadWelcome();
  ASSERT_TRUE(wa && wb);
  EXPECT_EQ(wa->major, 5u);
  EXPECT_EQ(wa->minor, 0u);
  EXPECT_EQ(wa->build, 1u);
  EXPECT_EQ(wa->text,
            u"Welcome to the second-generation Morvane Server and may the Force be with you!");
  EXPECT_NE(wa->challenge, wb->challenge);
  // FILETIME of now: after 2020-01-01 and before 2100-01-01.
  EXPECT_GT(wa->filetime, 132223104000000000ULL);
  EXPECT_LT(wa->filetime, 157766880000000000ULL);
}

TEST_F(Framing, EchoCopiesTheExtensionByteForByteAndDropsTheData) {
  for (size_t extension : {size_t{0}, size_t{1}, size_t{37}, size_t{1000}}) {
    TestClient client = Connected();
    const Bytes ext = Pattern(extension);
    ASSERT_TRUE(client.Send(Echo(ext, Pattern(5000))));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << extension;
    EXPECT_EQ(reply->command, 1u);
    EXPECT_EQ(reply->header_size, 24 + extension);
    EXPECT_EQ(reply->data_size, 0u);
    EXPECT_EQ(reply->reserved, 0u);
    EXPECT_EQ(Bytes(reply->header.begin() + 24, reply->header.end()), ext);
    // The next header after the dropped data part is read normally.
    ASSERT_TRUE(client.Send(Echo(Pattern(4))));
    auto second = client.Read();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->header_size, 28u);
  }
}

TEST_F(Framing, HeaderSizeLimits) {
  struct Case {
    uint32_t header_size;
    bool accepted;
  };
  for (const Case c : {Case{23, false}, Case{24, true}, Case{1024, true}, Case{1025, false}}) {
    TestClient client = Connected();
    const size_t before = server_->Lines().size();
    Bytes packet = PacketBuilder(1).Zeros(c.header_size > 24 ? c.header_size - 24 : 0).Build();
    if (c.header_size < 24) packet = PacketBuilder(1).HeaderSize(c.header_size).Build();
    ASSERT_TRUE(client.Send(packet));
    if (c.accepted) {
      auto reply = client.Read();
      ASSERT_TRUE(reply) << c.header_size;
      EXPECT_EQ(reply->header_size, c.header_size);
    } else {
      EXPECT_TRUE(client.WaitForEnd()) << c.header_size;  // no reply, sending side shut
      EXPECT_TRUE(server_->WaitForLine(
          ", packet header is either too small or too big (" + std::to_string(c.header_size) +
              ")",
          5s, before));
      EXPECT_TRUE(server_->WaitForLine(", shutting down", 5s, before));
    }
  }
}

TEST_F(Framing, BadMagicAndVersionAreLoggedAndAnsweredByShutdown) {
  struct Case {
    Bytes packet;
    std::string line;
  };
  const Case cases[] = {
      {PacketBuilder(1).Magic(0x12345678).Build(), ", invalid packet magic (0x12345678)"},
      {PacketBuilder(1).Version(0x101).Build(), ", invalid packet version (0x0101)"},
  };
  for (const Case& c : cases) {
    TestClient client = Connected();
    const size_t before = server_->Lines().size();
    ASSERT_TRUE(client.Send(c.packet));
    EXPECT_TRUE(client.WaitForEnd()) << c.line;
    EXPECT_TRUE(server_->WaitForLine(c.line, 5s, before));
  }
}

TEST_F(Framing, HeaderDeliveredOneByteAtATime) {
  TestClient client = Connected();
  const Bytes ext = Pattern(40);
  const Bytes packet = Echo(ext);
  for (std::byte b : packet) {
    ASSERT_TRUE(client.Send(Bytes{b}));
    std::this_thread::sleep_for(2ms);  // one wake-up per byte, most of the time
  }
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(Bytes(reply->header.begin() + 24, reply->header.end()), ext);
}

TEST_F(Framing, ReservedWordIsIgnored) {
  TestClient client = Connected();
  ASSERT_TRUE(client.Send(PacketBuilder(1).U32(42).Reserved(0xFFFFFFFF).Build()));
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->reserved, 0u);
  EXPECT_EQ(reply->U32(24), 42u);
}

TEST_F(Framing, LargestDataPartIsReceived) {
  TestClient client = Connected();
  ASSERT_TRUE(client.Send(Echo({}, Pattern(8388608))));
  auto reply = client.Read(20s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->command, 1u);
}

TEST_F(Framing, DataPartOverTheLimitIsRefusedAndTheSessionCloses) {
  TestClient client = Connected();
  // Only the header: the server must answer without reading 8 MiB it will never take.
  ASSERT_TRUE(client.Send(PacketBuilder(1).DataSize(8388609).Build()));
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->command, 0u);
  EXPECT_EQ(reply->header_size, 32u + 2 * 18);
  EXPECT_EQ(reply->status(), 1u);
  EXPECT_EQ(reply->text(), u"Macro data too big");
  EXPECT_TRUE(client.WaitForEnd());
}

TEST_F(Framing, CommandsBeforeLoginAreRefused) {
  TestClient client = Connected();
  for (uint32_t command : {0u, 2u, 5u, 7u, 100u, 0xFFFFFFFFu}) {
    ASSERT_TRUE(client.Send(PacketBuilder(command).Build()));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << command;
    EXPECT_EQ(reply->status(), 2u) << command;
    EXPECT_EQ(reply->text(), u"You must login first.");
  }
  // Still waiting for a login: echo works.
  ASSERT_TRUE(client.Send(Echo(Pattern(8))));
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->command, 1u);
}

TEST_F(Framing, PipelinedRequestsAreAnsweredInOrder) {
  TestClient client = Connected();
  Bytes burst;
  for (uint32_t i = 0; i < 50; ++i) {
    const Bytes one = PacketBuilder(1).U32(i).Build();
    burst.insert(burst.end(), one.begin(), one.end());
  }
  ASSERT_TRUE(client.Send(burst));
  for (uint32_t i = 0; i < 50; ++i) {
    auto reply = client.Read();
    ASSERT_TRUE(reply) << i;
    EXPECT_EQ(reply->U32(24), i);
  }
}

TEST_F(Framing, PeerClosingWhileAReplyIsHalfSentEndsOnlyThatSession) {
  TestClient client = Connected();
  const size_t before = server_->Lines().size();
  // Requests whose replies the client never reads, until the server's sends block.
  const Bytes request = Echo(Pattern(1000));
  Bytes burst;
  for (int i = 0; i < 64; ++i) burst.insert(burst.end(), request.begin(), request.end());
  // Send until the connection is full both ways (bounded: at most 64 MiB).
  size_t offset = 0;
  for (int rounds = 0; rounds < 1000;) {
    const ssize_t n = send(client.fd(), burst.data() + offset, burst.size() - offset,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) break;
    offset += static_cast<size_t>(n);
    if (offset == burst.size()) offset = 0, ++rounds;
  }
  std::this_thread::sleep_for(200ms);
  client.Reset();
  EXPECT_TRUE(server_->WaitForLine(", session destroyed", 10s, before));
  // Another client is served as before.
  TestClient other = Connected();
  ASSERT_TRUE(other.Send(Echo(Pattern(3))));
  EXPECT_TRUE(other.Read());
}

}  // namespace
}  // namespace testing_support
