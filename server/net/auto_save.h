// When the accept loop's housekeeping saves the store.
#pragma once

#include <cstdint>

constexpr uint64_t kAutoSaveIntervalMs = 180000;

// True when the store holds unsaved changes and at least 180,000 ms of the tick count have
// passed since the last successful save (the difference taken in unsigned 64 bits).
inline bool AutoSaveDue(bool dirty, uint64_t now_ms, uint64_t last_save_ms) {
  return dirty && now_ms - last_save_ms >= kAutoSaveIntervalMs;
}
