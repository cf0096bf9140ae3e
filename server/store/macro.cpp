#include "store/macro.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "store/macro_group.h"

namespace {

// Calls visit(node) for `top` and every descendant until it returns false; false if it did.
// An explicit stack instead of recursion: trees may be as deep as memory allows.
template <class Node, class Visit>
bool EveryNode(Node& top, Visit visit) {
  std::vector<Node*> pending{&top};
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    if (!visit(*node)) return false;
    for (const auto& child : node->children()) pending.push_back(child.get());
  }
  return true;
}

}  // namespace

CMVS5Macro::~CMVS5Macro() {
  // Each node is destroyed only after its children were moved out, so no destructor below this
  // one has anything left to destroy and the depth of the tree never reaches the stack.
  std::vector<std::unique_ptr<CMVS5Macro>> doomed = std::move(children_);
  while (!doomed.empty()) {
    std::unique_ptr<CMVS5Macro> node = std::move(doomed.back());
    doomed.pop_back();
    for (auto& child : node->children_) doomed.push_back(std::move(child));
    node->children_.clear();
  }
}

void CMVS5Macro::SetData(std::span<const std::byte> data) {
  data_.reset();
  data_size_ = 0;
  if (data.empty()) return;
  data_ = std::make_unique_for_overwrite<std::byte[]>(data.size());
  std::memcpy(data_.get(), data.data(), data.size());
  data_size_ = static_cast<uint32_t>(data.size());
}

CMVS5Macro* CMVS5Macro::FindChild(const platform::Guid& guid) const {
  for (const auto& child : children_) {
    if (child->guid_ == guid) return child.get();
  }
  return nullptr;
}

void CMVS5Macro::InsertChild(std::unique_ptr<CMVS5Macro> child, int32_t index) {
  child->parent_ = this;
  if (index >= 0 && static_cast<size_t>(index) < children_.size()) {
    children_.insert(children_.begin() + index, std::move(child));
  } else {
    children_.push_back(std::move(child));
  }
}

CMVS5Macro* CMVS5Macro::FindPath(std::span<const std::byte> guids) {
  CMVS5Macro* node = this;
  for (size_t at = 0; node != nullptr && at + 16 <= guids.size(); at += 16) {
    node = node->FindChild(LoadGuid(guids.data() + at));
  }
  return node;
}

bool CMVS5Macro::IsWithin(const CMVS5Macro& top) const {
  for (const CMVS5Macro* node = this; node != nullptr; node = node->parent_) {
    if (node == &top) return true;
  }
  return false;
}

CMVS5MacroGroup* CMVS5Macro::Group() {
  CMVS5Macro* root = this;
  while (root->parent_ != nullptr) root = root->parent_;
  return dynamic_cast<CMVS5MacroGroup*>(root);
}

bool CMVS5Macro::CanLock(const CMVS5ClientSession* session, bool recursive) const {
  const auto free_or_own = [session](const CMVS5Macro& node) {
    return node.lock_holder_ == nullptr || node.lock_holder_ == session;
  };
  if (!recursive) return free_or_own(*this);
  return EveryNode(*this, free_or_own);
}

bool CMVS5Macro::Lock(CMVS5ClientSession* session, bool recursive) {
  if (!CanLock(session, recursive)) return false;
  if (!recursive) {
    lock_holder_ = session;
    return true;
  }
  EveryNode(*this, [session](CMVS5Macro& node) {
    node.lock_holder_ = session;
    return true;
  });
  return true;
}

void CMVS5Macro::Unlock(const CMVS5ClientSession* session, bool recursive) {
  const auto release = [session](CMVS5Macro& node) {
    if (node.lock_holder_ == session) node.lock_holder_ = nullptr;
    return true;
  };
  if (recursive) {
    EveryNode(*this, release);
  } else {
    release(*this);
  }
}

void CMVS5Macro::TouchGroup() {
  if (CMVS5MacroGroup* group = Group()) group->IncrementRevision();
}

std::unique_ptr<CMVS5Macro> CMVS5Macro::Detach() {
  if (parent_ == nullptr) return nullptr;
  auto& siblings = parent_->children_;
  const auto it = std::find_if(siblings.begin(), siblings.end(),
                               [this](const std::unique_ptr<CMVS5Macro>& c) { return c.get() == this; });
  if (it == siblings.end()) return nullptr;
  std::unique_ptr<CMVS5Macro> self = std::move(*it);
  siblings.erase(it);
  parent_ = nullptr;
  return self;
}

void CMVS5Macro::DetachAndDelete() { Detach().reset(); }
