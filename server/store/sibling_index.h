// SiblingIndex: finds a node's children by GUID without a scan per lookup, so that reading or
// updating a node with many children stays linear in their number. Used by the record readers;
// not part of the store's interface.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>

#include "platform/guid.h"
#include "store/macro.h"

struct GuidHash {
  // Keyed with a per-process random value, because clients choose the GUIDs.
  size_t operator()(const platform::Guid& guid) const;
};

class SiblingIndex {
 public:
  explicit SiblingIndex(const CMVS5Macro& node) : node_(&node) {}

  // The first child of the node with that GUID, or null. Children appended to the node since the
  // last call are taken into account; children must not be removed while the index is in use.
  CMVS5Macro* Find(const platform::Guid& guid);

 private:
  // Up to this many children a scan is cheaper than hashing.
  static constexpr size_t kScanLimit = 16;

  const CMVS5Macro* node_;
  std::unique_ptr<std::unordered_map<platform::Guid, CMVS5Macro*, GuidHash>> map_;
  size_t indexed_ = 0;  // children [0, indexed_) are in map_
};
