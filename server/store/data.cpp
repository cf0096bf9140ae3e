#include "store/data.h"

#include <algorithm>

#include "platform/clock.h"

CMVS5Data::CMVS5Data() : last_save_time_(platform::TickCount64()) {}

CMVS5Data::~CMVS5Data() = default;

CMVS5MacroGroup* CMVS5Data::FindGroup(const platform::Guid& guid) {
  for (const auto& group : groups_) {
    if (group->guid() == guid) return group.get();
  }
  return nullptr;
}

void CMVS5Data::AppendGroup(std::unique_ptr<CMVS5MacroGroup> group) {
  groups_.push_back(std::move(group));
}

std::unique_ptr<CMVS5MacroGroup> CMVS5Data::RemoveGroup(size_t position) {
  if (position >= groups_.size()) return nullptr;
  std::unique_ptr<CMVS5MacroGroup> group = std::move(groups_[position]);
  groups_.erase(groups_.begin() + static_cast<std::ptrdiff_t>(position));
  return group;
}

std::unique_ptr<CMVS5MacroGroup> CMVS5Data::RemoveGroup(const CMVS5MacroGroup* group) {
  const auto it = std::find_if(groups_.begin(), groups_.end(),
                               [group](const auto& g) { return g.get() == group; });
  if (it == groups_.end()) return nullptr;
  return RemoveGroup(static_cast<size_t>(it - groups_.begin()));
}
