// Loopback throughput of the server: echo requests, logins and group fetches per second.
//
//   net_bench [echo|login|fetch|all] [seconds per run]
//
// The server runs in this process (the same code as MVServer5) so that the fetch runs can also
// count how many group snapshots were made. Prints one line per run.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands/snapshot_cache.h"
#include "host/log.h"
#include "platform/pool.h"
#include "host/default_objects.h"
#include "store/macro_group.h"
#include "support/in_process_server.h"
#include "support/test_client.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Every connection keeps one 24-byte echo request in flight; counts the replies.
void EchoRun(uint16_t port, int connections, double seconds) {
  std::vector<TestClient> clients;
  for (int i = 0; i < connections; ++i) {
    clients.emplace_back(port);
    if (!clients.back().ReadWelcome()) {
      std::printf("echo connections=%d failed to connect\n", connections);
      return;
    }
  }
  const Bytes request = PacketBuilder(1).Build();
  const int ep = epoll_create1(0);
  for (int i = 0; i < connections; ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(ep, EPOLL_CTL_ADD, clients[i].fd(), &ev);
    clients[i].Send(request);
  }
  std::vector<size_t> got(connections, 0);
  uint64_t replies = 0;
  const uint64_t callbacks_before = platform::PoolCallbackCount();
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  epoll_event events[256];
  char buffer[24];
  while (Clock::now() < end) {
    const int n = epoll_wait(ep, events, 256, 100);
    for (int k = 0; k < n; ++k) {
      const uint32_t i = events[k].data.u32;
      const ssize_t r = recv(clients[i].fd(), buffer, sizeof buffer - got[i], 0);
      if (r <= 0) continue;
      got[i] += static_cast<size_t>(r);
      if (got[i] == sizeof buffer) {
        got[i] = 0;
        ++replies;
        clients[i].Send(request);
      }
    }
  }
  const double took = Seconds(Clock::now() - start);
  const uint64_t callbacks = platform::PoolCallbackCount() - callbacks_before;
  close(ep);
  std::printf(
      "echo connections=%d requests=%llu seconds=%.2f requests_per_second=%.0f "
      "callbacks_per_request=%.2f\n",
      connections, static_cast<unsigned long long>(replies), took, replies / took,
      replies ? static_cast<double>(callbacks) / replies : 0.0);
}

// Each worker connects, reads the welcome, logs in and closes, over and over.
void LoginRun(uint16_t port, int workers, double seconds) {
  std::atomic<uint64_t> logins{0}, failures{0};
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      while (Clock::now() < end) {
        TestClient client(port);
        auto reply = client.Login(u"Admin", u"OwnerCode");
        if (reply && reply->command == 4) {
          ++logins;
        } else {
          ++failures;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  const double took = Seconds(Clock::now() - start);
  std::printf("login workers=%d logins=%llu failures=%llu seconds=%.2f logins_per_second=%.0f\n",
              workers, static_cast<unsigned long long>(logins.load()),
              static_cast<unsigned long long>(failures.load()), took, logins / took);
}

const platform::Guid kGroup = {{0x42, 0x17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99}};
const platform::Guid kBigGroup = {{0x43, 0x17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99}};

void AddGroup(CMVS5Data& data, const platform::Guid& guid, uint32_t macros, size_t size) {
  auto group = MakeDefaultGroup();
  group->set_guid(guid);
  group->set_name(u"Fetch Group");
  const std::vector<std::byte> content(size, std::byte{0x5A});
  for (uint32_t i = 0; i < macros; ++i) {
    auto macro = std::make_unique<CMVS5Macro>();
    platform::Guid g{};
    std::memcpy(g.bytes.data(), &i, sizeof i);
    macro->set_guid(g);
    macro->SetData(content);
    group->InsertChild(std::move(macro), -1);
  }
  data.AppendGroup(std::move(group));
}

// A group of 10,000 macros of 100 bytes (a snapshot of about 1.2 MiB) for the throughput runs,
// and one of about 12 MiB, more than socket buffers hold, for the burst.
void FillFetchGroups(CMVS5Data& data) {
  AddGroup(data, kGroup, 10000, 100);
  AddGroup(data, kBigGroup, 12000, 1000);
  if (data.users().empty()) AddDefaultAdministrator(data);
}

TestClient LoggedIn(uint16_t port, int receive_buffer = 0) {
  TestClient client(port, false, receive_buffer);
  client.Login(u"Admin", u"OwnerCode");
  return client;
}

Bytes FetchRequest(const platform::Guid& group = kGroup) {
  return PacketBuilder(7).Raw(group.bytes.data(), group.bytes.size()).Build();
}

// Every session fetches the group again as soon as its reply is in.
void FetchRun(uint16_t port, int sessions, double seconds) {
  std::atomic<uint64_t> fetches{0}, bytes{0};
  const uint64_t snapshots_before = SnapshotsAdded();
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&] {
      TestClient client = LoggedIn(port);
      const Bytes request = FetchRequest();
      while (Clock::now() < end) {
        client.Send(request);
        auto reply = client.Read(30s);
        if (!reply || reply->command != 8) break;
        ++fetches;
        bytes += reply->data.size();
      }
    });
  }
  for (auto& t : threads) t.join();
  const double took = Seconds(Clock::now() - start);
  std::printf(
      "fetch sessions=%d fetches=%llu seconds=%.2f fetches_per_second=%.0f mb_per_second=%.1f "
      "snapshots=%llu\n",
      sessions, static_cast<unsigned long long>(fetches.load()), took, fetches / took,
      bytes / took / 1e6, static_cast<unsigned long long>(SnapshotsAdded() - snapshots_before));
}

// All sessions ask at the same moment, then read: the replies overlap, and the group should be
// serialised once for the whole burst.
void FetchBurst(uint16_t port, int sessions, const platform::Guid& group, const char* name) {
  std::vector<TestClient> clients;
  for (int s = 0; s < sessions; ++s) clients.push_back(LoggedIn(port, 16 * 1024));
  const Bytes request = FetchRequest(group);
  const uint64_t snapshots_before = SnapshotsAdded();
  const auto start = Clock::now();
  for (auto& c : clients) c.Send(request);
  std::vector<std::thread> readers;
  std::atomic<int> complete{0};
  for (auto& c : clients) {
    readers.emplace_back([&] {
      auto reply = c.Read(60s);
      if (reply && reply->command == 8) ++complete;
    });
  }
  for (auto& t : readers) t.join();
  std::printf("fetch_burst group=%s sessions=%d complete=%d seconds=%.2f snapshots=%llu\n", name,
              sessions, complete.load(), Seconds(Clock::now() - start),
              static_cast<unsigned long long>(SnapshotsAdded() - snapshots_before));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "all";
  const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  const int null_fd = open("/dev/null", O_WRONLY);
  SetLogFile(null_fd);  // the server's log lines would drown the figures
  InProcessServer server(&FillFetchGroups);
  if (mode == "echo" || mode == "all") {
    for (int n : {1, 16, 64, 256}) EchoRun(server.port(), n, seconds);
  }
  if (mode == "login" || mode == "all") {
    for (int n : {1, 16}) LoginRun(server.port(), n, seconds);
  }
  if (mode == "fetch" || mode == "all") {
    for (int n : {1, 16, 64}) FetchRun(server.port(), n, seconds);
    FetchBurst(server.port(), 64, kGroup, "1.2MiB");
    FetchBurst(server.port(), 64, kBigGroup, "12MiB");
  }
  return 0;
}
