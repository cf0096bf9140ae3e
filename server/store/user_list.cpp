// The store's user list and its UserSection (the end of the data file):
//   0 section size 16 + all records | 4 version 1 | 8 UID counter | 12 account count M
//   16 M UserRecords in list order
#include <algorithm>

#include "store/data.h"

uint32_t CMVS5Data::AddUser(UserAccount account) {
  account.uid = ++uid_counter_;
  users_.push_back(std::move(account));
  return users_.back().uid;
}

UserAccount* CMVS5Data::FindUserByName(std::u16string_view name) {
  for (UserAccount& account : users_) {
    if (account.name == name) return &account;
  }
  return nullptr;
}

UserAccount* CMVS5Data::FindUserByUid(uint32_t uid) {
  for (UserAccount& account : users_) {
    if (account.uid == uid) return &account;
  }
  return nullptr;
}

bool CMVS5Data::RemoveUser(uint32_t uid) {
  const auto it = std::find_if(users_.begin(), users_.end(),
                               [uid](const UserAccount& a) { return a.uid == uid; });
  if (it == users_.end()) return false;
  users_.erase(it);
  return true;
}

uint64_t CMVS5Data::UserSectionSize() const {
  uint64_t size = UserSectionHeaderSize;
  for (const UserAccount& account : users_) size += UserRecordSize(account);
  return size;
}

void CMVS5Data::WriteUserSection(platform::WriteCursor& cursor) const {
  cursor.U32(static_cast<uint32_t>(UserSectionSize()));
  cursor.U32(UserSectionVersion);
  cursor.U32(uid_counter_);
  cursor.U32(static_cast<uint32_t>(users_.size()));
  for (const UserAccount& account : users_) WriteUserRecord(account, cursor);
}

bool CMVS5Data::ReadUserSection(platform::ReadCursor& cursor) {
  users_.clear();
  uint32_t size = 0, version = 0, counter = 0, count = 0;
  // Size and version are written for other readers; this one goes by the count.
  if (!cursor.U32(size) || !cursor.U32(version) || !cursor.U32(counter) || !cursor.U32(count)) {
    return false;
  }
  uid_counter_ = counter;
  // The count comes from the file: records are appended as they are read, never reserved ahead.
  for (uint32_t i = 0; i < count; ++i) {
    UserAccount account;
    if (!ReadUserRecord(cursor, account)) return false;
    uid_counter_ = std::max(uid_counter_, account.uid);
    users_.push_back(std::move(account));
  }
  return true;
}
