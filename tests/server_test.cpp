// The server's life in a console: banner, listening, housekeeping and the orderly stop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "support/server_process.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

const std::regex kLogLine(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} .*)");
const std::string kStars(55, '*');

TEST(Server, StartsWithBannerAndStopsOnInterrupt) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server.Stop(), 1);
  const auto stop_time = std::chrono::steady_clock::now() - start;
  // The loop notices a stop within one 300 ms wait; with no client there is nothing to wait for.
  EXPECT_LT(stop_time, 2s);

  const std::vector<std::string> lines = server.Lines();
  const std::vector<std::string> expected = {
      kStars,
      "* Morvane Server version 5.0.1",
      kStars,
      kStars,
      "* WSA successfully initialized, version 2.2:",
      "  Linux sockets, Running",
      "* Server socket was created and bound to port " + std::to_string(server.port()),
      kStars,
      "* Ready and waiting for connections",
      "* Exiting...",
      "* CMVServer5 class instance destroyed",
  };
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  ASSERT_EQ(lines.size(), expected.size()) << all;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], kLogLine)) << lines[i];
    EXPECT_EQ(lines[i].substr(24), expected[i]);
  }
}

TEST(Server, PortAlreadyTakenEndsWithThreeAfterSaving) {
  ServerProcess server;
  const int blocker = BindDualStack(server.port());
  ASSERT_GE(blocker, 0);
  ASSERT_EQ(listen(blocker, 1), 0);

  const RunResult r = server.Run({"-run"});
  close(blocker);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("! Cannot bind server socket to port " + std::to_string(server.port())),
            std::string::npos);
  EXPECT_EQ(r.output.find("Ready and waiting"), std::string::npos);
  EXPECT_TRUE(FileExists(server.data_file()));  // the final save ran
}

TEST(Server, PortAboveSixteenBitsUsesItsLowBits) {
  ServerProcess server;
  const int configured = server.port() + 65536;
  server.WriteIni("[Main]\nNetworkTCPPort=" + std::to_string(configured) + "\n");
  ASSERT_TRUE(server.StartAndWaitReady());
  EXPECT_TRUE(server.WaitForLine("bound to port " + std::to_string(configured)));
  {
    TestClient client(server.port());
    ASSERT_TRUE(client.connected());
    EXPECT_TRUE(client.ReadWelcome());
  }
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Server, LogsIpv4ClientsAsMappedAddresses) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  {
    TestClient v4(server.port());
    TestClient v6(server.port(), true);
    ASSERT_TRUE(v4.connected() && v6.connected());
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(v4.fd(), reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_TRUE(server.WaitForLine("* Client connected from [::ffff:127.0.0.1]:" +
                                   std::to_string(ntohs(local.sin_port)) + ", session 0x"));
    EXPECT_TRUE(server.WaitForLine("* Client connected from [::1]:"));
  }
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Server, SilentClientKeepsTheStopWaitingForTheGracefulPhase) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  TestClient client(server.port());
  ASSERT_TRUE(client.ReadWelcome());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server.Stop(), 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 2900ms);  // the graceful phase waited its 3 s for the client to close
  const auto shutting = server.WaitForLine(", shutting down", 0ms);
  const auto destroyed = server.WaitForLine(", session destroyed", 0ms);
  ASSERT_TRUE(shutting && destroyed);
  EXPECT_LT(*shutting, *destroyed);
}

TEST(Server, ClientThatClosesOnShutdownEndsTheGracefulPhaseEarly) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  TestClient client(server.port());
  ASSERT_TRUE(client.ReadWelcome());
  std::thread closer([&] {
    if (client.WaitForEnd(5s)) client.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server.Stop(), 1);
  closer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
  EXPECT_TRUE(server.WaitForLine(", socket gracefully closed", 0ms));
}

}  // namespace
}  // namespace testing_support
