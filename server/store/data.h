// CMVS5Data: the macro store. The user accounts, the UID counter and the macro groups with their
// trees, one reader/writer lock over all of it, and the bookkeeping for saving it to the data
// file (layout in docs/formats.md).
//
// Locking: Lock() guards every field but the dirty state and the last-save time. Readers take it
// shared, whoever changes the store takes it exclusive (a caller that goes on to change what it
// looked up takes it exclusive from the start). Lock order: the session list lock and the change
// list lock may be held while it is taken; the snapshot cache lock may be taken while it is held;
// never the other way round. Code that runs before the server accepts connections or after it
// has stopped may use the store without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/file.h"
#include "platform/guid.h"
#include "platform/rwlock.h"
#include "store/macro_group.h"
#include "store/user_account.h"

constexpr uint32_t DataFileHeaderSize = 12;
constexpr uint32_t DataFileVersion = 1;
constexpr uint32_t UserSectionHeaderSize = 16;
constexpr uint32_t UserSectionVersion = 1;

class CMVS5Data {
 public:
  // An empty store, not dirty, last saved "now".
  CMVS5Data();
  virtual ~CMVS5Data();
  CMVS5Data(const CMVS5Data&) = delete;
  CMVS5Data& operator=(const CMVS5Data&) = delete;

  platform::RWLock& Lock() { return lock_; }

  // REQUIRES: Lock() held (shared to read, exclusive to change).
  std::vector<UserAccount>& users() { return users_; }
  const std::vector<UserAccount>& users() const { return users_; }
  std::vector<std::unique_ptr<CMVS5MacroGroup>>& groups() { return groups_; }
  const std::vector<std::unique_ptr<CMVS5MacroGroup>>& groups() const { return groups_; }
  // The last UID given out; it never decreases. REQUIRES: Lock() held.
  uint32_t UidCounter() const { return uid_counter_; }

  // Appends the account with the next UID (counter + 1, counter updated) and returns that UID.
  // The account may be empty and filled in right after under the same lock. UIDs at or above
  // 2^31 cannot be told apart in access lists; the counter is not expected to get there.
  // REQUIRES: Lock() held exclusively.
  uint32_t AddUser(UserAccount account);
  // The first account with exactly that name, or null. REQUIRES: Lock() held.
  UserAccount* FindUserByName(std::u16string_view name);
  // The account with that UID, or null. REQUIRES: Lock() held.
  UserAccount* FindUserByUid(uint32_t uid);
  // Removes the account, keeping the others' order; false when there is none.
  // REQUIRES: Lock() held exclusively.
  bool RemoveUser(uint32_t uid);

  // 16 + the UserRecordSize of every account. REQUIRES: Lock() held.
  uint64_t UserSectionSize() const;
  // Writes the UserSection: size, version 1, counter, account count, one UserRecord per account
  // in list order. REQUIRES: Lock() held; UserSectionSize() bytes remain at the cursor.
  void WriteUserSection(platform::WriteCursor& cursor) const;
  // Replaces the accounts and the counter by those of the UserSection at the cursor. False when
  // the section does not fit in the bytes left: the accounts read completely before the damage
  // are kept, and the counter is kept when the section's header was readable. The counter is
  // raised to the highest UID read, so that no UID is ever given out twice.
  // REQUIRES: Lock() held exclusively.
  bool ReadUserSection(platform::ReadCursor& cursor);

  // The first group with that GUID (groups only, never macros), or null. REQUIRES: Lock() held.
  CMVS5MacroGroup* FindGroup(const platform::Guid& guid);
  // REQUIRES: Lock() held exclusively (for all three).
  void AppendGroup(std::unique_ptr<CMVS5MacroGroup> group);
  // Takes the group at `position` out of the list, keeping the others' order; null when there is
  // no such position. Dropping the result destroys the group with its macros.
  [[nodiscard]] std::unique_ptr<CMVS5MacroGroup> RemoveGroup(size_t position);
  // Takes the first occurrence of `group` out of the list; null when it is not there.
  [[nodiscard]] std::unique_ptr<CMVS5MacroGroup> RemoveGroup(const CMVS5MacroGroup* group);

  // Reads the data file at `path` into the store (meant for an empty store, once, at start-up);
  // takes Lock() itself. When no file is at `path` but a backup (path + ".bak") is, an
  // interrupted save left the last complete copy there, and that is read instead. False when
  // neither can be opened, the file is shorter than its 12-byte header or than the header says,
  // the version is not 1, a group record cannot be read (the groups before it stay, no accounts
  // are read) or the user section does not fit (see ReadUserSection).
  bool Load(const std::string& path);

  // Writes the whole store to `path` through path + ".tmp" and path + ".bak" (all mode 0600),
  // durably: after a crash at any moment the data file, or when it is missing the backup file,
  // holds either the previous or the new content in full. Takes Lock() shared while it writes.
  // On success clears the dirty state (unless a change was committed meanwhile) and sets the
  // last-save time; on failure leaves both as they were. False also when the file would not fit
  // the format's 32-bit sizes. Saves are serialised among themselves.
  // REQUIRES: Lock() not held by the caller.
  bool Save(const std::string& path);

  // Records that the store holds a change not yet in the data file.
  // REQUIRES: Lock() held exclusively (so that Save sees the change or a later change count).
  void MarkDirty() { changes_.fetch_add(1, std::memory_order_acq_rel); }
  // Read without the lock.
  bool IsDirty() const {
    return changes_.load(std::memory_order_acquire) != saved_changes_.load(std::memory_order_acquire);
  }
  // TickCount64() when the last successful save finished (or the store was made).
  uint64_t LastSaveTime() const { return last_save_time_.load(std::memory_order_acquire); }

  // Test seam: called at each step of Save (after the temporary file is created, after each
  // write, after each flush, close, rename and delete), so that a test can stop the process
  // there. Null in normal operation.
  enum class SavePoint {
    TempCreated,
    Written,
    TempFlushed,
    TempClosed,
    StaleBackupDeleted,
    DataRenamedToBackup,
    TempRenamedToData,
    FolderFlushed,
    BackupDeleted,
  };
  void SetSaveProbe(std::function<void(SavePoint)> probe) { save_probe_ = std::move(probe); }
  // Test seam: the largest file Save writes. Normally UINT32_MAX, what the format's 32-bit sizes
  // can describe.
  void SetSizeLimit(uint64_t bytes) { size_limit_ = bytes; }

 private:
  bool ReadFile(const std::string& path);
  bool WriteTemp(platform::File& file, uint64_t& seen_changes);
  void Probe(SavePoint point) const {
    if (save_probe_) save_probe_(point);
  }

  std::vector<UserAccount> users_;
  uint32_t uid_counter_ = 0;
  std::vector<std::unique_ptr<CMVS5MacroGroup>> groups_;
  platform::RWLock lock_;

  // Dirty while the count of committed changes differs from the count the last save wrote.
  // MarkDirty bumps the first under the exclusive lock; Save notes it under the shared lock and
  // stores it as written only after the renames, so a change made meanwhile keeps the store dirty.
  std::atomic<uint64_t> changes_{0};
  std::atomic<uint64_t> saved_changes_{0};
  std::atomic<uint64_t> last_save_time_;

  platform::RWLock save_lock_;  // one Save at a time; taken before lock_
  std::function<void(SavePoint)> save_probe_;
  uint64_t size_limit_ = UINT32_MAX;
};
