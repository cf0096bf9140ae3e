// CMVServer5: the running server. Listens on the configured port, turns each accepted connection
// into a session driven by thread-pool waits, keeps the session lists, and does the housekeeping
// between connections.
//
// Lock order: the session list lock is the outermost lock. No code takes it while holding the
// store's lock, the snapshot cache lock or the change list lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/pool.h"
#include "platform/rwlock.h"
#include "platform/socket.h"
#include "protocol/shared_payload.h"

class CMVS5Settings;
class CMVS5ClientSession;

// Shutdown flags, read by every session's transfer step.
constexpr uint32_t kGracefulStop = 1;
constexpr uint32_t kImmediateStop = 2;

class CMVServer5 {
 public:
  // Writes the banner.
  explicit CMVServer5(CMVS5Settings& settings);
  // Closes the cleanup group (no session callback runs afterwards) and destroys the sessions
  // that are left. Runs on the thread of RunServer.
  virtual ~CMVServer5();
  CMVServer5(const CMVServer5&) = delete;
  CMVServer5& operator=(const CMVServer5&) = delete;

  // Network start-up and the thread-pool environment. Once, right after construction.
  bool Initialize();

  // Listens and serves until the stop flag is set; returns 0 after a stop, 2 when the listening
  // socket cannot be created, 3 when it cannot be bound.
  int AcceptLoop();

  // Adds `flag` to the shutdown flags and wakes every active session; waits up to 3 s for the
  // active list to empty. True when it is empty.
  bool CloseAllSessions(uint32_t flag);

  // Destroys the sessions in the retired list. Listening thread only.
  void DeleteRetiredSessions();

  CMVS5Settings& settings;
  std::unique_ptr<platform::CleanupGroup> cleanup_group;  // every session wait is a member
  std::atomic<uint32_t> shutdown_flags{0};
  uint32_t last_session_number = 0;  // changed on the listening thread only

  // Group snapshots that sessions are sending; its lock is the snapshot cache lock.
  PayloadOwner snapshot_cache;

  // Guards both session lists.
  platform::RWLock session_list_lock;
  std::vector<std::unique_ptr<CMVS5ClientSession>> active_sessions;   // accept order
  std::vector<std::unique_ptr<CMVS5ClientSession>> retired_sessions;  // awaiting destruction

 private:
  // Accepts one connection and starts its session.
  void AcceptOne(platform::Socket& listener);
  void Housekeeping();
  void AutoSave();
  // REQUIRES: no session callback can run any more.
  void DestroyAllSessions();
  void FreeSnapshotCache();
};
