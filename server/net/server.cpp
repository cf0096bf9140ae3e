#include "net/server.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "host/console_ctrl.h"
#include "host/process_state.h"
#include "host/settings.h"
#include "net/auto_save.h"
#include "net/client_session.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/event.h"
#include "platform/socket.h"

namespace {

constexpr char kStars[] = "*******************************************************";
constexpr uint32_t kAcceptWaitMs = 300;
constexpr uint32_t kCloseWaitMs = 3000;
constexpr uint32_t kClosePollMs = 100;

}  // namespace

CMVServer5::CMVServer5(CMVS5Settings& s) : settings(s) {
  settings.WriteLog("%s", kStars);
  settings.WriteLog("* Morvane Server version %i.%i.%i", static_cast<int>(settings.version_major),
                    static_cast<int>(settings.version_minor),
                    static_cast<int>(settings.version_build));
  settings.WriteLog("%s", kStars);
}

CMVServer5::~CMVServer5() {
  if (cleanup_group) cleanup_group->CloseMembers();
  DestroyAllSessions();
  FreeSnapshotCache();
  settings.WriteLog("* CMVServer5 class instance destroyed");
}

bool CMVServer5::Initialize() {
  settings.WriteLog("%s", kStars);
  const platform::NetStartupInfo net = platform::NetStartup();
  settings.WriteLog("* WSA successfully initialized, version %i.%i:", net.major, net.minor);
  settings.WriteLog("  %s, %s", net.description.c_str(), net.system_status.c_str());
  cleanup_group = std::make_unique<platform::CleanupGroup>();
  return true;
}

int CMVServer5::AcceptLoop() {
  ProcessState& process = Process();
  process.stop.store(false);

  platform::Socket listener = platform::Socket::OpenTcp6();
  if (!listener) {
    settings.WriteLog("! Cannot create server socket");
    return 2;
  }
  // SO_REUSEADDR still refuses a second listener on the port, but lets a restarted server bind
  // while connections of the previous run sit in TIME_WAIT.
  listener.SetOption(SOL_SOCKET, SO_REUSEADDR, 1);
  listener.SetOption(IPPROTO_IPV6, IPV6_V6ONLY, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_any;
  address.sin6_port = htons(static_cast<uint16_t>(settings.tcp_port & 0xFFFF));
  if (!listener.Bind(address)) {
    settings.WriteLog("! Cannot bind server socket to port %i", settings.tcp_port);
    return 3;
  }
  settings.WriteLog("* Server socket was created and bound to port %i", settings.tcp_port);
  listener.Listen(SOMAXCONN);
  platform::Event accept_event;
  listener.EventSelect(&accept_event, platform::kAccept);
  // Taken over before the line that says the server is ready, so that whoever waits for that
  // line and then interrupts the server gets the orderly stop, never the default action.
  if (!process.service_mode) platform::SetConsoleCtrlHandler(&ConsoleCtrlHandler);
  settings.WriteLog("%s", kStars);
  settings.WriteLog("* Ready and waiting for connections");

  uint64_t last_housekeeping = platform::TickCount64();
  while (!process.stop.load()) {
    if (accept_event.Wait(kAcceptWaitMs)) {
      AcceptOne(listener);
      // A steady stream of connections must not put the housekeeping off for ever: finished
      // sessions keep their sockets until they are destroyed, and the auto-save would wait too.
      if (platform::TickCount64() - last_housekeeping < kAcceptWaitMs) continue;
    }
    Housekeeping();
    last_housekeeping = platform::TickCount64();
  }

  settings.WriteLog("* Exiting...");
  if (!CloseAllSessions(kGracefulStop)) CloseAllSessions(kImmediateStop);
  DeleteRetiredSessions();
  // Close the waits before the snapshot cache goes, so that no callback can still send from it;
  // the sessions that stayed are then destroyed too, which hands their snapshots back.
  cleanup_group->CloseMembers();
  DestroyAllSessions();
  FreeSnapshotCache();
  listener.Close();
  return 0;
}

void CMVServer5::AcceptOne(platform::Socket& listener) {
  listener.EnumNetworkEvents();
  sockaddr_in6 peer{};
  platform::Socket connection = listener.Accept(peer);
  if (!connection) return;
  std::unique_ptr<CMVS5ClientSession> session = CMVS5ClientSession::CreateSession(*this, connection);
  if (!session) return;  // `connection` still owns the socket and closes it
  settings.WriteLog("* Client connected from %s, session 0x%08X",
                    platform::AddressToString(peer).c_str(), session->log_handle());
  session->client_address = peer.sin6_addr;
  CMVS5ClientSession* armed = session.get();
  {
    platform::ScopedLock guard(session_list_lock, platform::LockMode::Exclusive);
    active_sessions.push_back(std::move(session));
  }
  armed->ArmWait();  // from here on the session's callback may run
}

void CMVServer5::Housekeeping() {
  DeleteRetiredSessions();
  AutoSave();
}

void CMVServer5::AutoSave() {
  CMVS5Data& data = settings.data;
  if (!AutoSaveDue(data.IsDirty(), platform::TickCount64(), data.LastSaveTime())) return;
  data.Save(settings.data_file_path);  // a failure leaves the store dirty: retried next pass
}

bool CMVServer5::CloseAllSessions(uint32_t flag) {
  shutdown_flags.fetch_or(flag);
  bool empty;
  {
    platform::ScopedLock guard(session_list_lock, platform::LockMode::Shared);
    for (auto& session : active_sessions) session->event().Set();
    empty = active_sessions.empty();
  }
  if (empty) return true;
  const uint64_t start = platform::TickCount64();
  for (;;) {
    platform::SleepMs(kClosePollMs);
    {
      platform::ScopedLock guard(session_list_lock, platform::LockMode::Shared);
      if (active_sessions.empty()) return true;
    }
    if (platform::TickCount64() - start >= kCloseWaitMs) return false;
  }
}

void CMVServer5::DeleteRetiredSessions() {
  {
    platform::ScopedLock guard(session_list_lock, platform::LockMode::Shared);
    if (retired_sessions.empty()) return;
  }
  platform::ScopedLock guard(session_list_lock, platform::LockMode::Exclusive);
  for (auto& session : retired_sessions) session.reset();
  retired_sessions.clear();
}

void CMVServer5::DestroyAllSessions() {
  DeleteRetiredSessions();
  platform::ScopedLock guard(session_list_lock, platform::LockMode::Exclusive);
  for (auto& session : active_sessions) session.reset();
  active_sessions.clear();
}

void CMVServer5::FreeSnapshotCache() {
  platform::ScopedLock guard(snapshot_cache.lock, platform::LockMode::Exclusive);
  for (SharedPayload* snapshot : snapshot_cache.entries) delete snapshot;
  snapshot_cache.entries.clear();
}
