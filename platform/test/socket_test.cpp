#include "platform/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

sockaddr_in6 Loopback6(uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  a.sin6_port = htons(port);
  return a;
}

// A listening socket on ::1 with an ephemeral port, and plain blocking clients for it.
class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = Socket::OpenTcp6();
    ASSERT_TRUE(listener_);
    ASSERT_TRUE(listener_.Bind(Loopback6(0)));
    ASSERT_TRUE(listener_.Listen(16));
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin6_port);
  }
  int Connect() {
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    const sockaddr_in6 a = Loopback6(port_);
    EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return fd;
  }
  // Accepts one connection (blocking listener) and binds it to `event`.
  Socket AcceptBound(Event& event) {
    sockaddr_in6 peer{};
    Socket s = listener_.Accept(peer);
    EXPECT_TRUE(s);
    EXPECT_TRUE(s.EventSelect(&event, kRead | kWrite | kClose));
    return s;
  }
  // A connection accepted and bound to `event`, with its first FD_WRITE already taken.
  Socket Settled(Event& event, int& client) {
    client = Connect();
    Socket s = AcceptBound(event);
    EXPECT_TRUE(event.Wait(1000));
    EXPECT_EQ(s.EnumNetworkEvents(), kWrite);
    return s;
  }
  static void Write(int fd, const std::string& text) {
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
  }
  std::string Receive(Socket& s, size_t n) {
    std::string out(n, '\0');
    const IoResult r = s.Recv(out.data(), n);
    EXPECT_EQ(r.error, 0);
    out.resize(r.bytes > 0 ? static_cast<size_t>(r.bytes) : 0);
    return out;
  }

  Socket listener_;
  uint16_t port_ = 0;
};

TEST_F(Loop, WriteIsRecordedOnceAfterBinding) {
  Event event;
  const int client = Connect();
  Socket s = AcceptBound(event);
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents(), kWrite);
  ASSERT_GT(s.Send("x", 1).bytes, 0);  // a send that succeeds does not record it again
  EXPECT_FALSE(event.Wait(100));
  EXPECT_EQ(s.EnumNetworkEvents(), 0u);
  close(client);
}

TEST_F(Loop, ReadIsRecordedAgainOnlyByAReceive) {
  Event event;
  int client;
  Socket s = Settled(event, client);

  Write(client, "abc");
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents(), kRead);
  Write(client, "def");
  EXPECT_FALSE(event.Wait(150));  // not re-enabled yet
  EXPECT_EQ(Receive(s, 2), "ab");
  ASSERT_TRUE(event.Wait(1000));  // the receive re-enabled it, data is left
  EXPECT_EQ(s.EnumNetworkEvents(), kRead);
  EXPECT_EQ(Receive(s, 100), "cdef");
  EXPECT_FALSE(event.Wait(150));
  std::string none(4, '\0');
  EXPECT_TRUE(s.Recv(none.data(), none.size()).would_block());
  close(client);
}

TEST_F(Loop, CloseWaitsUntilUnreadDataIsConsumed) {
  Event event;
  int client;
  Socket s = Settled(event, client);

  Write(client, "xyz");
  shutdown(client, SHUT_WR);
  ASSERT_TRUE(event.Wait(1000));
  std::this_thread::sleep_for(100ms);  // let the end of stream reach the server
  EXPECT_EQ(s.EnumNetworkEvents(), kRead);
  EXPECT_EQ(Receive(s, 3), "xyz");
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents() & kClose, kClose);
  char byte;
  EXPECT_EQ(s.Recv(&byte, 1).bytes, 0);  // end of stream
  close(client);
}

TEST_F(Loop, ResetRecordsCloseAtOnce) {
  Event event;
  int client;
  Socket s = Settled(event, client);

  Write(client, "unread");
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents(), kRead);
  linger l{1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(client);  // reset
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents() & kClose, kClose);
}

TEST_F(Loop, WriteIsRecordedAgainAfterWouldBlockWhenRoomComesBack) {
  Event event;
  const int client = Connect();
  Socket s = AcceptBound(event);
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents(), kWrite);

  const std::vector<char> chunk(64 * 1024, 'q');
  size_t sent = 0;
  for (;;) {
    const IoResult r = s.Send(chunk.data(), chunk.size());
    if (r.would_block()) break;
    ASSERT_EQ(r.error, 0);
    sent += static_cast<size_t>(r.bytes);
    ASSERT_LT(sent, size_t{1} << 30);
  }
  EXPECT_FALSE(event.Wait(100));
  std::vector<char> sink(1 << 20);
  size_t drained = 0;
  while (drained < sent) {
    const ssize_t n = recv(client, sink.data(), sink.size(), 0);
    ASSERT_GT(n, 0);
    drained += static_cast<size_t>(n);
  }
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(s.EnumNetworkEvents(), kWrite);
  close(client);
}

TEST_F(Loop, AcceptIsRecordedAgainWhileConnectionsWait) {
  Event event;
  ASSERT_TRUE(listener_.EventSelect(&event, kAccept));
  const int a = Connect();
  const int b = Connect();
  ASSERT_TRUE(event.Wait(1000));
  EXPECT_EQ(listener_.EnumNetworkEvents(), kAccept);
  sockaddr_in6 peer{};
  EXPECT_TRUE(listener_.Accept(peer));
  ASSERT_TRUE(event.Wait(1000));  // the second one still waits
  EXPECT_EQ(listener_.EnumNetworkEvents(), kAccept);
  EXPECT_TRUE(listener_.Accept(peer));
  EXPECT_FALSE(event.Wait(100));
  EXPECT_FALSE(listener_.Accept(peer));  // non-blocking now: nothing pending
  close(a);
  close(b);
}

TEST_F(Loop, UnboundSocketSetsNoEvent) {
  Event event;
  const int client = Connect();
  Socket s = AcceptBound(event);
  ASSERT_TRUE(event.Wait(1000));
  ASSERT_TRUE(s.EventSelect(nullptr, 0));
  Write(client, "late");
  shutdown(client, SHUT_WR);
  EXPECT_FALSE(event.Wait(150));
  EXPECT_EQ(s.EnumNetworkEvents(), 0u);
  close(client);
}

TEST_F(Loop, SendToAClosedPeerFailsWithoutSignal) {
  Event event;
  const int client = Connect();
  Socket s = AcceptBound(event);
  linger l{1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(client);
  std::this_thread::sleep_for(50ms);
  int error = 0;
  for (int i = 0; i < 100 && error == 0; ++i) error = s.Send("data", 4).error;
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
}

// Out of descriptors: the waiting connection is closed rather than left in the queue, and once
// descriptors are free again connections are accepted as before.
void AcceptWithoutDescriptors(Socket& listener, int client) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = 64;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
  std::vector<int> filler;
  for (int fd; (fd = dup(0)) >= 0;) filler.push_back(fd);
  sockaddr_in6 peer{};
  if (listener.Accept(peer)) _exit(11);
  // Closed by the server: end of stream or a reset, within a second.
  pollfd p{client, POLLIN, 0};
  if (poll(&p, 1, 1000) != 1) _exit(12);
  char byte;
  if (recv(client, &byte, 1, 0) > 0) _exit(13);
  fcntl(listener.fd(), F_SETFL, O_NONBLOCK);
  if (listener.Accept(peer)) _exit(14);
  if (errno != EAGAIN) _exit(15);  // nothing left queued
  for (int fd : filler) close(fd);
  _exit(0);
}

TEST_F(Loop, AcceptOutOfDescriptorsClosesTheWaitingConnection) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int client = Connect();
  EXPECT_EXIT(AcceptWithoutDescriptors(listener_, client), ::testing::ExitedWithCode(0), "");
  close(client);
  const int next = Connect();
  sockaddr_in6 peer{};
  EXPECT_TRUE(listener_.Accept(peer));
  close(next);
}

TEST(AddressToString, UsesTheBracketedForm) {
  struct Case {
    const char* address;
    uint16_t port;
    const char* text;
  };
  const Case cases[] = {
      {"::ffff:192.0.2.7", 50123, "[::ffff:192.0.2.7]:50123"},
      {"::1", 25552, "[::1]:25552"},
      {"2001:db8::5", 1, "[2001:db8::5]:1"},
  };
  for (const Case& c : cases) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    ASSERT_EQ(inet_pton(AF_INET6, c.address, &a.sin6_addr), 1);
    a.sin6_port = htons(c.port);
    EXPECT_EQ(AddressToString(a), c.text);
  }
}

}  // namespace
}  // namespace platform
