#include "host/default_objects.h"

namespace {

constexpr platform::Guid kDefaultGroupGuid = {{0xC5, 0x38, 0x60, 0x08, 0x1C, 0x7A, 0x01, 0x49,
                                                0xA8, 0xC5, 0xEF, 0x34, 0xE1, 0xD8, 0xBF, 0xB2}};

}  // namespace

std::unique_ptr<CMVS5MacroGroup> MakeDefaultGroup() {
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(kDefaultGroupGuid);
  group->set_name(u"Default Group");
  group->set_flags(GroupOpen | GroupReadOnly);
  return group;
}

bool IsDefaultAdministrator(const UserAccount& account) {
  return account.name == kDefaultAdminName && account.password == kDefaultAdminPassword &&
         account.flags == UserAdmin;
}

void AddDefaultAdministrator(CMVS5Data& data) {
  data.AddUser(UserAccount{std::u16string(kDefaultAdminName),
                           std::u16string(kDefaultAdminPassword), UserAdmin, 0});
}
