// CMVS5Macro: one node of a macro tree (a GUID, an opaque data blob, ordered children and a lock
// holder), its tree operations and its record form, the MacroRecord:
//
//   offset  size  field
//   0       16    GUID
//   16      4     data size D
//   20      4     child count C
//   24      D     data blob
//   24 + D  rest  the C child MacroRecords, in child order
//
// Every operation expects the store's reader/writer lock (CMVS5Data::Lock) to be held: at least
// shared for the ones that only read, exclusive for the ones that change a node in the store.
// None of them recurses, so trees of any depth are safe on a normal thread stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/bytes.h"
#include "platform/guid.h"
#include "store/macro_path.h"

class CMVS5ClientSession;  // lock holders are compared by identity only
class CMVS5MacroGroup;

// Failure codes of ReadMacroRecord; they are also the status codes the add command replies with.
constexpr uint32_t RecordDuplicateGuid = 11;
constexpr uint32_t RecordEmptyData = 12;
constexpr uint32_t RecordTruncated = 13;

constexpr uint32_t MacroRecordHeaderSize = 24;

class CMVS5Macro {
 public:
  CMVS5Macro() = default;
  // Frees the data and destroys every descendant, without recursion.
  virtual ~CMVS5Macro();
  CMVS5Macro(const CMVS5Macro&) = delete;
  CMVS5Macro& operator=(const CMVS5Macro&) = delete;

  const platform::Guid& guid() const { return guid_; }
  void set_guid(const platform::Guid& guid) { guid_ = guid; }

  // The node whose child list holds this node; null for a group's root node and for a subtree
  // that is not (yet) in a tree.
  CMVS5Macro* parent() const { return parent_; }

  std::span<const std::byte> data() const { return {data_.get(), data_size_}; }
  uint32_t data_size() const { return data_size_; }
  // Replaces the data blob by a copy of `data` (no buffer when it is empty).
  // REQUIRES: data.size() <= UINT32_MAX.
  void SetData(std::span<const std::byte> data);

  const std::vector<std::unique_ptr<CMVS5Macro>>& children() const { return children_; }
  // The first child with that GUID, or null.
  CMVS5Macro* FindChild(const platform::Guid& guid) const;
  // Makes this node the child's parent and inserts the child before the child at `index` when
  // 0 <= index < the number of children, and at the end otherwise (negative or too large).
  // REQUIRES: child has no parent.
  void InsertChild(std::unique_ptr<CMVS5Macro> child, int32_t index);

  CMVS5ClientSession* lock_holder() const { return lock_holder_; }

  // Walks down from this node: for each 16-byte GUID in `guids` in turn the first child with that
  // GUID becomes the current node; null as soon as one is missing. No GUIDs yield this node.
  // REQUIRES: guids.size() is a multiple of 16.
  CMVS5Macro* FindPath(std::span<const std::byte> guids);

  // True when this node is `top` or lies in its subtree.
  bool IsWithin(const CMVS5Macro& top) const;

  // The group at the root of this node's tree; null when the root is not a group.
  CMVS5MacroGroup* Group();

  // False when the holder is another session; otherwise true, and when `recursive` only if the
  // same holds for every descendant.
  bool CanLock(const CMVS5ClientSession* session, bool recursive) const;
  // When CanLock(session, recursive) holds, makes `session` the holder of this node and, when
  // `recursive`, of every descendant, and returns true; otherwise changes nothing, false.
  bool Lock(CMVS5ClientSession* session, bool recursive);
  // Clears the holder where it is `session`: on this node and, when `recursive`, on every
  // descendant whatever this node's holder was. Other sessions' holds stay.
  void Unlock(const CMVS5ClientSession* session, bool recursive);

  // Increments the revision of the group at the root of this node's tree (nothing when the root
  // is not a group).
  void TouchGroup();

  // Removes this node from its parent's child list, keeping the order of the others, and hands
  // it to the caller. Null when the node has no parent or is not in the parent's list.
  [[nodiscard]] std::unique_ptr<CMVS5Macro> Detach();
  // When the node has a parent: removes it from the parent's list and destroys it with its
  // subtree (and the locks on it); `this` is gone afterwards. A node without a parent (a group
  // root taken out of the store with CMVS5Data::RemoveGroup, a subtree just read) belongs to
  // whoever holds it, and dropping that owner destroys it; this call then does nothing.
  void DetachAndDelete();

  // 24 + data size + the RecordSize of every child, in 64 bits so that no tree can wrap it.
  uint64_t RecordSize() const;
  // Writes this node's MacroRecord and advances the cursor.
  // REQUIRES: RecordSize() bytes remain at the cursor.
  void WriteRecord(platform::WriteCursor& cursor) const;
  // Checks a MacroRecord against this subtree and, unless `check_only`, replaces the data of
  // every node it names: each child record must name (by GUID) a current child of the node whose
  // record holds it; only a group root may get data size 0. The GUID in the top record is not
  // compared. Never adds, removes or reorders nodes. Run it with `check_only` first and apply
  // only when that succeeded, so that an invalid update changes nothing.
  // REQUIRES: the store's lock, shared when `check_only`, exclusive otherwise.
  bool ApplyRecord(platform::ReadCursor& cursor, bool check_only);

 private:
  friend struct MacroRecordReader;  // fills nodes while reading, in macro_record.cpp

  platform::Guid guid_;
  CMVS5Macro* parent_ = nullptr;
  std::unique_ptr<std::byte[]> data_;
  uint32_t data_size_ = 0;
  std::vector<std::unique_ptr<CMVS5Macro>> children_;
  CMVS5ClientSession* lock_holder_ = nullptr;
};

// Reads a MacroRecord with its whole subtree into a new node. On failure returns null, sets
// `failure` to RecordTruncated (the record or one of its children runs past the cursor's end),
// RecordEmptyData (a node with data size 0) or RecordDuplicateGuid (two children of one node
// share a GUID), and leaves the cursor at the start of the record at which reading stopped, so
// that the caller can quote its GUID (for a duplicate: the second of the two). On success the
// cursor stands right after the record.
std::unique_ptr<CMVS5Macro> ReadMacroRecord(platform::ReadCursor& cursor, uint32_t& failure);

// The same, reading into an existing group root node, which may have data size 0. The root's
// GUID, data and children are set from the record; on failure the root may hold part of the
// record and the caller discards it.
// REQUIRES: root has no children.
bool ReadMacroRecord(platform::ReadCursor& cursor, uint32_t& failure, CMVS5Macro& root);
