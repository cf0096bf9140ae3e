#include "store/macro_group.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "protocol/shared_payload.h"

CMVS5MacroGroup::~CMVS5MacroGroup() = default;

uint32_t CMVS5MacroGroup::AccessFor(uint32_t uid) const {
  const uint32_t default_level = (flags_ & GroupReadOnly) != 0 ? AccessRead : AccessReadWrite;
  const bool open = (flags_ & GroupOpen) != 0;
  for (const uint32_t entry : access_list_) {
    if ((entry & AccessEntryUidMask) != uid) continue;
    const bool grant = (entry & AccessEntryGrant) != 0;
    // Open groups list exceptions (excluded, or read only); closed groups list their members.
    if (open) return grant ? AccessRead : AccessNone;
    return grant ? default_level : AccessRead;
  }
  return open ? default_level : AccessNone;
}

uint32_t CMVS5MacroGroup::SummarySize() const {
  return static_cast<uint32_t>(28 + 2 * name_.size());
}

void CMVS5MacroGroup::WriteSummary(platform::WriteCursor& cursor, uint32_t uid,
                                   bool is_admin) const {
  uint32_t rights = 0;
  if (is_admin || AccessFor(uid) == AccessReadWrite) rights |= SummaryCanWrite;
  if (uid == owner_uid_) rights |= SummaryIsOwner;
  cursor.U32(SummarySize());
  cursor.Bytes(guid().bytes.data(), guid().bytes.size());
  cursor.U32(rights);
  cursor.U32(static_cast<uint32_t>(name_.size()));
  cursor.Utf16(name_);
}

SharedPayload* CMVS5MacroGroup::MakeSnapshot() const {
  const uint64_t size = RecordSize();
  if (size > UINT32_MAX) throw std::length_error("macro group too big for a snapshot");
  PayloadRef snapshot(SharedPayload::Create());
  snapshot->key = guid();
  snapshot->revision = revision_;
  snapshot->Resize(static_cast<uint32_t>(size));
  platform::WriteCursor cursor(snapshot->data());
  WriteRecord(cursor);
  SharedPayload* made = snapshot.get();
  made->AddReference();  // the reference handed out; `snapshot` drops its own below
  return made;
}

uint64_t CMVS5MacroGroup::GroupRecordSize() const {
  return GroupRecordHeaderSize + 2 * uint64_t{name_.size()} + 4 * uint64_t{access_list_.size()} +
         RecordSize();
}

void CMVS5MacroGroup::WriteGroupRecord(platform::WriteCursor& cursor) const {
  // The sizes are filled in once the root record is written, which spares a second walk of the
  // tree just to size it.
  std::byte* header = cursor.Take(GroupRecordHeaderSize);
  cursor.Utf16(name_);
  for (const uint32_t entry : access_list_) cursor.U32(entry);
  const size_t root_start = cursor.written();
  WriteRecord(cursor);
  const uint64_t root_size = cursor.written() - root_start;
  const uint64_t total =
      GroupRecordHeaderSize + 2 * uint64_t{name_.size()} + 4 * uint64_t{access_list_.size()} +
      root_size;
  if (total > UINT32_MAX) {
    // Callers check GroupRecordSize first; a record this big cannot describe itself.
    std::fprintf(stderr, "WriteGroupRecord: record of %llu bytes\n",
                 static_cast<unsigned long long>(total));
    std::abort();
  }
  platform::WriteCursor fields(header, GroupRecordHeaderSize);
  fields.U32(static_cast<uint32_t>(total));
  fields.U32(GroupRecordVersion);
  fields.U32(owner_uid_);
  fields.U32(flags_);
  fields.U32(static_cast<uint32_t>(name_.size()));
  fields.U32(static_cast<uint32_t>(access_list_.size()));
  fields.U32(static_cast<uint32_t>(root_size));
}

std::unique_ptr<CMVS5MacroGroup> ReadGroupRecord(platform::ReadCursor& cursor) {
  platform::ReadCursor c = cursor;
  uint32_t total = 0, version = 0, owner = 0, flags = 0, name_length = 0, entries = 0, root = 0;
  if (!c.U32(total) || !c.U32(version)) return nullptr;
  if (version != GroupRecordVersion) return nullptr;
  // The record's total size bounds everything in it, and the record must lie in the buffer.
  if (uint64_t{total} > uint64_t{c.remaining()} + 8) return nullptr;
  if (!c.U32(owner) || !c.U32(flags) || !c.U32(name_length) || !c.U32(entries) || !c.U32(root)) {
    return nullptr;
  }
  const uint64_t fixed = GroupRecordHeaderSize + 2 * uint64_t{name_length} + 4 * uint64_t{entries};
  if (fixed > total) return nullptr;

  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_owner_uid(owner);
  group->set_flags(flags);
  std::u16string name;
  if (!c.Utf16(name_length, name)) return nullptr;
  group->set_name(std::move(name));
  std::vector<uint32_t> access(entries);
  for (uint32_t& entry : access) {
    if (!c.U32(entry)) return nullptr;
  }
  group->set_access_list(std::move(access));

  const uint64_t root_limit = total - fixed;
  platform::ReadCursor root_cursor(c.position(), static_cast<size_t>(root_limit));
  uint32_t failure = 0;
  if (!ReadMacroRecord(root_cursor, failure, *group)) return nullptr;
  c.Skip(static_cast<size_t>(root_limit) - root_cursor.remaining());
  cursor = c;
  return group;
}
