#include "store/user_account.h"

#include "platform/clock.h"

void ScramblePassword(uint32_t seed, std::span<char16_t> units) {
  uint16_t mask = static_cast<uint16_t>((seed >> 5) ^ 0x3A9C);
  for (char16_t& unit : units) {
    unit = static_cast<char16_t>(unit ^ mask);
    mask = static_cast<uint16_t>(mask + 0x5F27);
  }
}

uint64_t UserRecordSize(const UserAccount& account) {
  return UserRecordHeaderSize + 2 * uint64_t{account.name.size()} +
         2 * uint64_t{account.password.size()};
}

void WriteUserRecord(const UserAccount& account, platform::WriteCursor& cursor) {
  const auto seed = static_cast<uint32_t>(platform::ReadTimeStampCounter());
  std::u16string scrambled = account.password;
  ScramblePassword(seed, scrambled);
  cursor.U32(account.uid);
  cursor.U32(account.flags);
  cursor.U32(seed);
  cursor.U32(static_cast<uint32_t>(account.name.size()));
  cursor.U32(static_cast<uint32_t>(scrambled.size()));
  cursor.Utf16(account.name);
  cursor.Utf16(scrambled);
}

bool ReadUserRecord(platform::ReadCursor& cursor, UserAccount& account) {
  platform::ReadCursor c = cursor;
  uint32_t uid = 0, flags = 0, seed = 0, name_length = 0, password_length = 0;
  if (!c.U32(uid) || !c.U32(flags) || !c.U32(seed) || !c.U32(name_length) ||
      !c.U32(password_length)) {
    return false;
  }
  UserAccount read;
  read.flags = flags;
  read.uid = uid;
  if (!c.Utf16(name_length, read.name) || !c.Utf16(password_length, read.password)) return false;
  ScramblePassword(seed, read.password);
  account = std::move(read);
  cursor = c;
  return true;
}
