#include "support/store_builder.h"

#include <cstring>

namespace testing_support {

platform::Guid TestGuid(uint8_t n) {
  return {{n, 0x5E, 0x57, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
           0xCC}};
}

uint32_t StoreBuilder::User(std::u16string name, std::u16string password, uint32_t flags) {
  return data.AddUser(UserAccount{std::move(name), std::move(password), flags, 0});
}

CMVS5MacroGroup& StoreBuilder::Group(const platform::Guid& guid, std::u16string name,
                                     uint32_t flags, uint32_t owner,
                                     std::vector<uint32_t> access) {
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(guid);
  group->set_name(std::move(name));
  group->set_flags(flags);
  group->set_owner_uid(owner);
  group->set_access_list(std::move(access));
  CMVS5MacroGroup& ref = *group;
  data.AppendGroup(std::move(group));
  return ref;
}

CMVS5Macro& StoreBuilder::Macro(CMVS5Macro& parent, const platform::Guid& guid,
                                const std::string& content) {
  auto macro = std::make_unique<CMVS5Macro>();
  macro->set_guid(guid);
  macro->SetData({reinterpret_cast<const std::byte*>(content.data()), content.size()});
  CMVS5Macro& ref = *macro;
  parent.InsertChild(std::move(macro), -1);
  return ref;
}

}  // namespace testing_support
