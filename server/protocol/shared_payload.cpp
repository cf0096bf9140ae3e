#include "protocol/shared_payload.h"

#include <algorithm>

void SharedPayload::Release() {
  if (owner == nullptr) {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    return;
  }
  PayloadOwner* list = owner;
  platform::ScopedLock guard(list->lock, platform::LockMode::Exclusive);
  if (references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  auto it = std::find(list->entries.begin(), list->entries.end(), this);
  if (it != list->entries.end()) list->entries.erase(it);
  delete this;
}
