// Session lifecycle seen from outside: timeouts, retirement, and whole log lines.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "support/server_process.h"
#include "support/test_client.h"

namespace testing_support {
namespace {

TEST(Session, ClientThatSendsNothingTimesOut) {
  ServerProcess server("NetworkTimeout=1");
  ASSERT_TRUE(server.StartAndWaitReady());
  TestClient client(server.port());
  ASSERT_TRUE(client.ReadWelcome());
  const auto start = std::chrono::steady_clock::now();
  const auto timed_out = server.WaitForLine(", timed out", 5s);
  ASSERT_TRUE(timed_out);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 800ms);
  EXPECT_TRUE(server.WaitForLine(", session destroyed", 2s, *timed_out));
  EXPECT_TRUE(client.WaitForEnd(2s));  // destroyed: its socket is closed
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Session, EchoKeepsAnIdleSessionAlive) {
  ServerProcess server("NetworkTimeout=1");
  ASSERT_TRUE(server.StartAndWaitReady());
  TestClient client(server.port());
  ASSERT_TRUE(client.ReadWelcome());
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(client.Send(PacketBuilder(1).Build()));
    ASSERT_TRUE(client.Read()) << i;
  }
  EXPECT_EQ(server.CountLines("timed out"), 0u);
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Session, ZeroTimeoutEndsASessionAtOnce) {
  ServerProcess server("NetworkTimeout=0");
  ASSERT_TRUE(server.StartAndWaitReady());
  TestClient client(server.port());
  EXPECT_TRUE(server.WaitForLine(", timed out", 2s));
  EXPECT_TRUE(server.WaitForLine(", session destroyed", 2s));
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Session, ShortConnectionLogsItsLifeInOrder) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  {
    TestClient client(server.port());
    ASSERT_TRUE(client.ReadWelcome());
  }
  ASSERT_TRUE(server.WaitForLine(", session destroyed"));
  std::vector<std::string> session_lines;
  for (const auto& line : server.Lines()) {
    const auto at = line.find("CMVS5ClientSession 0x");
    if (at != std::string::npos) session_lines.push_back(line.substr(24));
  }
  const std::regex expected[] = {
      std::regex(R"(\* CMVS5ClientSession 0x[0-9A-F]{8}, successfully created)"),
      std::regex(R"(\* CMVS5ClientSession 0x[0-9A-F]{8}, socket gracefully closed)"),
      std::regex(R"(\* CMVS5ClientSession 0x[0-9A-F]{8}, session destroyed)"),
  };
  ASSERT_EQ(session_lines.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(std::regex_match(session_lines[i], expected[i]));
  // The accept line sits between creation and the rest, with the same handle.
  const std::string handle = session_lines[0].substr(21, 10);
  EXPECT_TRUE(server.WaitForLine("* Client connected from [::ffff:127.0.0.1]:", 0ms));
  EXPECT_TRUE(server.WaitForLine(", session " + handle, 0ms));
  EXPECT_EQ(server.Stop(), 1);
}

TEST(Session, ManySessionsLoggingAtOnceWriteWholeLines) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        TestClient client(server.port());
        client.ReadWelcome();
        client.Send(PacketBuilder(1).Magic(0).Build());  // a bad header: two lines at once
        client.WaitForEnd(2s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(server.Stop(), 1);
  const std::regex stamp(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
  const auto lines = server.Lines();
  EXPECT_GE(lines.size(), 16u * 5 * 5);
  for (const auto& l : lines) {
    std::smatch m;
    // One time stamp, at the start: no line was cut into or merged with another.
    EXPECT_TRUE(std::regex_search(l, m, stamp) && m.position(0) == 0 &&
                !std::regex_search(l.substr(24), stamp))
        << l;
  }
  EXPECT_EQ(server.CountLines(", invalid packet magic (0x00000000)"), 16u * 5);
}

}  // namespace
}  // namespace testing_support

namespace testing_support {
namespace {

TEST(Session, FinishedSessionsAreDestroyedWhileConnectionsKeepComing) {
  ServerProcess server;
  ASSERT_TRUE(server.StartAndWaitReady());
  size_t destroyed_while_busy = 0;
  // A new connection every 50 ms for 1.5 s: never a 300 ms pause without one.
  for (int i = 0; i < 30; ++i) {
    {
      TestClient client(server.port());
      ASSERT_TRUE(client.ReadWelcome());
    }
    std::this_thread::sleep_for(50ms);
    destroyed_while_busy = server.CountLines(", session destroyed");
  }
  EXPECT_GE(destroyed_while_busy, 20u);
  EXPECT_EQ(server.Stop(), 1);
}

}  // namespace
}  // namespace testing_support
