// The read side of the group commands: list the visible groups, fetch a group's tree, read a
// group's access settings. All three hold the store's lock shared and change nothing.
#include <new>
#include <optional>

#include "commands/snapshot_cache.h"
#include "host/settings.h"
#include "net/client_session.h"
#include "net/server.h"
#include "protocol/session_error.h"
#include "store/data.h"
#include "store/macro_path.h"

namespace {

constexpr uint32_t kGroupRequestSize = 40;  // header and one GUID
constexpr uint32_t kListReplySize = 28;
constexpr uint32_t kAccessReplySize = 52;
constexpr uint32_t kAccessItemSize = 8;

// The group a fetch or access request (header size 40, the GUID at 24) names, found with the
// store's lock taken shared into `guard`. None, with the failure reply queued and no lock held,
// when the request has another size (tested before the lock is taken) or no group has the GUID.
const CMVS5MacroGroup* RequestedGroup(CMVS5ClientSession& session, const PacketHeader& request,
                                      std::optional<platform::ScopedLock>& guard) {
  if (request.header_size != kGroupRequestSize) {
    session.SendStatus(StatusMalformed, u"Invalid packet header size", StateLoggedIn);
    return nullptr;
  }
  CMVS5Data& data = session.server.settings.data;
  guard.emplace(data.Lock(), platform::LockMode::Shared);
  const CMVS5MacroGroup* group = data.FindGroup(LoadGuid(session.request_bytes().data() + 24));
  if (group == nullptr) {
    guard.reset();
    session.SendStatus(StatusNotFound, u"Requested macro group was not found", StateLoggedIn);
  }
  return group;
}

// Where a reply's data part goes: right after its header in the send buffer when both fit,
// otherwise a payload of exactly `size` bytes that becomes the session's sent payload.
std::span<std::byte> ReplyData(CMVS5ClientSession& session, uint32_t header_size, uint64_t size) {
  if (header_size + size <= kBufferSize) return session.send_buffer().subspan(header_size, size);
  if (size > UINT32_MAX) throw std::bad_alloc();
  PayloadRef payload(SharedPayload::Create());
  payload->Resize(static_cast<uint32_t>(size));
  const std::span<std::byte> data = payload->data();
  session.SetSentPayload(std::move(payload));
  return data;
}

}  // namespace

bool CMVS5ClientSession::CanSee(const CMVS5MacroGroup& group) const {
  return (user_flags & UserAdmin) || group.AccessFor(user_uid) != AccessNone;
}

void CMVS5ClientSession::ListGroups(const PacketHeader&) {
  CMVS5Data& data = server.settings.data;
  platform::ScopedLock guard(data.Lock(), platform::LockMode::Shared);
  uint32_t count = 0;
  uint64_t total = 0;
  for (const auto& group : data.groups()) {
    if (!CanSee(*group)) continue;
    ++count;
    total += group->SummarySize();
  }
  const std::span<std::byte> records = ReplyData(*this, kListReplySize, total);
  platform::WriteCursor out(records);
  const bool admin = user_flags & UserAdmin;
  for (const auto& group : data.groups()) {
    if (CanSee(*group)) group->WriteSummary(out, user_uid, admin);
  }
  guard.Release();

  platform::WriteCursor header(send_buffer_);
  PacketHeader::Write(header, kListReplySize, static_cast<uint32_t>(total), CommandGroupList);
  header.U32(count);
  SendPacket(StateLoggedIn, true, records);
}

void CMVS5ClientSession::FetchGroup(const PacketHeader& request) {
  std::optional<platform::ScopedLock> guard;
  const CMVS5MacroGroup* group = RequestedGroup(*this, request, guard);
  if (group == nullptr) return;
  if (!CanSee(*group)) {
    guard.reset();
    SendStatus(StatusNoRights, u"Access to the requested group is denied for this user",
               StateLoggedIn);
    return;
  }
  // Names of groups made by clients keep this header within bounds; one read from a data file
  // might not, and must not be written past the send buffer.
  const uint64_t header_size = kHeaderSize + uint64_t{group->SummarySize()};
  if (header_size > kMaxHeaderSize) throw MessageText{"! Invalid packet header size"};
  PayloadRef snapshot;
  {
    platform::ScopedLock cache(server.snapshot_cache.lock, platform::LockMode::Exclusive);
    snapshot = PayloadRef(FindSnapshot(server.snapshot_cache, group->guid(), group->revision()));
    if (!snapshot) {
      snapshot = PayloadRef(group->MakeSnapshot());
      AddSnapshot(server.snapshot_cache, snapshot.get());
    }
  }
  platform::WriteCursor out(send_buffer_);
  PacketHeader::Write(out, static_cast<uint32_t>(header_size), snapshot->size, CommandGroup);
  group->WriteSummary(out, user_uid, user_flags & UserAdmin);
  guard.reset();

  const std::span<const std::byte> tree = snapshot->data();
  SetSentPayload(std::move(snapshot));  // released by the transfer step once the reply is out
  SendPacket(StateLoggedIn, true, tree);
}

void CMVS5ClientSession::ReadGroupAccess(const PacketHeader& request) {
  std::optional<platform::ScopedLock> guard;
  const CMVS5MacroGroup* group = RequestedGroup(*this, request, guard);
  if (group == nullptr) return;
  const auto& entries = group->access_list();
  const uint64_t size = uint64_t{kAccessItemSize} * entries.size();
  const std::span<std::byte> items = ReplyData(*this, kAccessReplySize, size);
  platform::WriteCursor out(items);
  for (uint32_t entry : entries) {
    out.U32(entry & ~AccessEntryGrant);
    out.U32((entry & AccessEntryGrant) ? 1 : 0);
  }
  platform::WriteCursor header(send_buffer_);
  PacketHeader::Write(header, kAccessReplySize, static_cast<uint32_t>(size), CommandGroupAccess);
  header.Bytes(group->guid().bytes.data(), group->guid().bytes.size());
  header.U32(group->flags());
  header.U32(group->owner_uid());
  header.U32(static_cast<uint32_t>(entries.size()));
  guard.reset();
  SendPacket(StateLoggedIn, true, items);
}
