// Builds store content and saves it as a data file, so that a test can start a server on known
// groups, macros and accounts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/data.h"

namespace testing_support {

// A GUID whose first byte is `n` and whose other bytes are fixed.
platform::Guid TestGuid(uint8_t n);

class StoreBuilder {
 public:
  // Adds an account with the next UID; returns the UID.
  uint32_t User(std::u16string name, std::u16string password, uint32_t flags);
  CMVS5MacroGroup& Group(const platform::Guid& guid, std::u16string name, uint32_t flags,
                         uint32_t owner = 0, std::vector<uint32_t> access = {});
  CMVS5Macro& Macro(CMVS5Macro& parent, const platform::Guid& guid, const std::string& data);
  bool SaveTo(const std::string& path) { return data.Save(path); }

  CMVS5Data data;
};

}  // namespace testing_support
