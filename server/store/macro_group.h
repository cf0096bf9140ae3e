// CMVS5MacroGroup: a named group with an owner, access rules and a revision; the group is the
// root node of its macro tree (its children are the top-level macros).
//
// GroupRecord (data file):
//   0 total size 28 + 2N + 4A + R | 4 version 1 | 8 owner UID | 12 flags | 16 name length N
//   20 access entry count A | 24 root record size R | 28 name (UTF-16LE) | 28 + 2N access entries
//   28 + 2N + 4A the root MacroRecord (group GUID, group data, top-level macros)
// GroupSummaryRecord (wire):
//   0 record length 28 + 2N | 4 group GUID | 20 rights | 24 name length N | 28 name (UTF-16LE)
//
// Like CMVS5Macro, every operation expects the store's lock: shared for the ones that read,
// exclusive for the ones that change a group in the store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "store/macro.h"

struct SharedPayload;

constexpr uint32_t AccessNone = 0;
constexpr uint32_t AccessRead = 1;
constexpr uint32_t AccessReadWrite = 2;

constexpr uint32_t GroupOpen = 1;
constexpr uint32_t GroupReadOnly = 2;

// Bit 31 of an access entry; bits 0 to 30 hold a UID.
constexpr uint32_t AccessEntryGrant = 0x80000000;
constexpr uint32_t AccessEntryUidMask = 0x7FFFFFFF;

// Rights bits of a GroupSummaryRecord.
constexpr uint32_t SummaryCanWrite = 1;
constexpr uint32_t SummaryIsOwner = 2;

constexpr uint32_t GroupRecordHeaderSize = 28;
constexpr uint32_t GroupRecordVersion = 1;

class CMVS5MacroGroup : public CMVS5Macro {
 public:
  CMVS5MacroGroup() = default;
  ~CMVS5MacroGroup() override;

  const std::u16string& name() const { return name_; }
  void set_name(std::u16string name) { name_ = std::move(name); }
  uint32_t owner_uid() const { return owner_uid_; }
  void set_owner_uid(uint32_t uid) { owner_uid_ = uid; }
  // GroupOpen, GroupReadOnly; other bits are kept as loaded.
  uint32_t flags() const { return flags_; }
  void set_flags(uint32_t flags) { flags_ = flags; }
  const std::vector<uint32_t>& access_list() const { return access_list_; }
  void set_access_list(std::vector<uint32_t> entries) { access_list_ = std::move(entries); }

  // Tells apart successive states of the group since start-up; 0 when created or loaded.
  uint32_t revision() const { return revision_; }
  // REQUIRES: the store's lock held exclusively.
  void IncrementRevision() { ++revision_; }

  // AccessNone, AccessRead or AccessReadWrite for that UID from the flags and the first access
  // entry naming it. The administrators' override is the caller's business.
  uint32_t AccessFor(uint32_t uid) const;

  // 28 + 2N.
  uint32_t SummarySize() const;
  // Writes the GroupSummaryRecord as a session with that UID sees it; `is_admin` when the
  // session's user has UserAdmin (who may then always write).
  // REQUIRES: SummarySize() bytes remain at the cursor.
  void WriteSummary(platform::WriteCursor& cursor, uint32_t uid, bool is_admin) const;

  // A new payload with one reference and no owner: key = the group's GUID, revision = the
  // current revision, bytes = the root node's MacroRecord. Throws std::length_error when the
  // tree does not fit a payload's 32-bit size, std::bad_alloc when memory runs out.
  SharedPayload* MakeSnapshot() const;

  // 28 + 2N + 4A + RecordSize(), in 64 bits. The record can be stored only when it fits 32 bits.
  uint64_t GroupRecordSize() const;
  // Writes the GroupRecord and advances the cursor.
  // REQUIRES: GroupRecordSize() <= UINT32_MAX bytes and that many remain at the cursor.
  void WriteGroupRecord(platform::WriteCursor& cursor) const;

 private:
  std::u16string name_;
  uint32_t owner_uid_ = 0;
  std::vector<uint32_t> access_list_;
  uint32_t flags_ = 0;
  uint32_t revision_ = 0;
};

// Reads a GroupRecord into a new group (revision 0, nothing locked), or null when the version is
// not 1, any part of the record runs past the cursor's end or past the record's own total size,
// or its root MacroRecord cannot be read. On success the cursor stands right after the root
// MacroRecord, where the next record starts; on failure it is unchanged.
std::unique_ptr<CMVS5MacroGroup> ReadGroupRecord(platform::ReadCursor& cursor);
