// UserAccount and its record form, the UserRecord (data file and wire), with the password
// scrambling:
//
//   offset   size  field
//   0        4     UID
//   4        4     flags
//   8        4     scrambling seed S
//   12       4     name length N (UTF-16 code units)
//   16       4     password length P
//   20       2N    name, UTF-16LE
//   20 + 2N  2P    password, UTF-16LE, scrambled with S
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/bytes.h"

constexpr uint32_t UserAdmin = 1;
constexpr uint32_t UserNoGroupCreate = 2;  // never stored together with UserAdmin

struct UserAccount {
  std::u16string name;      // compared exactly, case-sensitive
  std::u16string password;  // plain text in memory: the login check needs it
  uint32_t flags = 0;
  uint32_t uid = 0;
};

constexpr uint32_t UserRecordHeaderSize = 20;

// XORs each code unit with a mask that starts from the seed and moves on by a constant per unit;
// applying it twice with the same seed restores the text.
void ScramblePassword(uint32_t seed, std::span<char16_t> units);

// 20 + 2N + 2P, in 64 bits.
uint64_t UserRecordSize(const UserAccount& account);

// Writes the account's UserRecord with a fresh seed (the low 32 bits of the time-stamp counter),
// so that writing one account twice gives different bytes that read back alike.
// REQUIRES: UserRecordSize(account) bytes remain at the cursor.
void WriteUserRecord(const UserAccount& account, platform::WriteCursor& cursor);

// Fills `account` from the UserRecord at the cursor, unscrambling the password, and advances past
// it. False, with the cursor and the account unchanged, when the record runs past the end.
bool ReadUserRecord(platform::ReadCursor& cursor, UserAccount& account);
