#include "store/sibling_index.h"

#include <cstdint>
#include <cstring>
#include <random>

namespace {

uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x;
}

uint64_t ProcessKey() {
  static const uint64_t key = [] {
    std::random_device device;
    return uint64_t{device()} << 32 | device();
  }();
  return key;
}

}  // namespace

size_t GuidHash::operator()(const platform::Guid& guid) const {
  uint64_t low, high;
  std::memcpy(&low, guid.bytes.data(), 8);
  std::memcpy(&high, guid.bytes.data() + 8, 8);
  return static_cast<size_t>(Mix(Mix(low ^ ProcessKey()) ^ high));
}

CMVS5Macro* SiblingIndex::Find(const platform::Guid& guid) {
  const auto& children = node_->children();
  if (children.size() <= kScanLimit) return node_->FindChild(guid);
  if (!map_) {
    map_ = std::make_unique<std::unordered_map<platform::Guid, CMVS5Macro*, GuidHash>>();
    map_->reserve(children.size());
  }
  for (; indexed_ < children.size(); ++indexed_) {
    map_->emplace(children[indexed_]->guid(), children[indexed_].get());  // first one wins
  }
  const auto it = map_->find(guid);
  return it == map_->end() ? nullptr : it->second;
}
