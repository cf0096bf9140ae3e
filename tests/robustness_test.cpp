// Bytes of any shape from a client end at worst that client's session; the server keeps serving.
#include <gtest/gtest.h>

#include <random>

#include "support/server_process.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

// A request with random header words, biased towards values near the limits.
Bytes RandomPacket(std::mt19937& rng) {
  auto pick = [&](std::initializer_list<uint32_t> values) {
    std::uniform_int_distribution<size_t> d(0, values.size() - 1);
    return *(values.begin() + d(rng));
  };
  std::uniform_int_distribution<uint32_t> any;
  std::uniform_int_distribution<int> coin(0, 9);
  const uint32_t command = coin(rng) < 7 ? pick({0, 1, 2, 3, 4, 5, 7, 12, 100, 109, 111}) : any(rng);
  const uint32_t extension = pick({0, 1, 4, 16, 84, 104, 200, 999, 1000});
  PacketBuilder b(command);
  for (uint32_t i = 0; i < extension; ++i) {
    const uint8_t byte = static_cast<uint8_t>(any(rng));
    b.Raw(&byte, 1);
  }
  if (coin(rng) == 0) b.Magic(any(rng));
  if (coin(rng) == 0) b.Version(pick({0, 255, 257, any(rng)}));
  if (coin(rng) < 2) b.HeaderSize(pick({0, 23, 24, 25, 1024, 1025, 0xFFFFFFFF, any(rng)}));
  if (coin(rng) < 2) {
    const uint32_t size = pick({0, 1, 100, 4096});
    b.Data(Bytes(size, std::byte{0x77}));
    if (coin(rng) < 3) b.DataSize(pick({size + 1, 8388609, 0xFFFFFFFF}));
  }
  b.Reserved(coin(rng) == 0 ? any(rng) : 0);
  return b.Build();
}

TEST(Robustness, RandomRequestsNeverHurtTheServer) {
  ServerProcess server("NetworkTimeout=2");
  ASSERT_TRUE(server.StartAndWaitReady());
  std::mt19937 rng(20261211);
  for (int connection = 0; connection < 150; ++connection) {
    TestClient client(server.port());
    ASSERT_TRUE(client.connected()) << connection;
    // Half of them log in first (as the default administrator, who may send every command).
    if (connection % 2 == 1) {
      auto login = client.Login(u"Admin", u"OwnerCode");
      ASSERT_TRUE(login && login->command == 4) << connection;
    }
    for (int i = 0; i < 6; ++i) {
      if (!client.Send(RandomPacket(rng))) break;
    }
    client.Silent(20ms);  // let some replies arrive, read or not
    if (connection % 3 == 0) client.Reset();
  }
  TestClient probe(server.port());
  ASSERT_TRUE(probe.ReadWelcome());
  ASSERT_TRUE(probe.Send(PacketBuilder(1).U32(7).Build()));
  auto echo = probe.Read();
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->U32(24), 7u);
  probe.Close();
  EXPECT_EQ(server.Stop(), 1);
  // Sessions end by the protocol's rules or by a socket error, never by another failure.
  for (const auto& line : server.Lines()) {
    if (line.find(", exception ") == std::string::npos) continue;
    // ECONNRESET, EPIPE, ENOTCONN: the peer reset the connection under a send or shutdown.
    const bool socket_error = line.find("exception 104") != std::string::npos ||
                              line.find("exception 32") != std::string::npos ||
                              line.find("exception 107") != std::string::npos;
    EXPECT_TRUE(socket_error) << line;
  }
}

}  // namespace
}  // namespace testing_support
