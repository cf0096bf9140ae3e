// The objects the run routine adds to a store that lacks them: the Default Group and the
// default administrator "Admin" / "OwnerCode".
#pragma once

#include <memory>
#include <string_view>

#include "store/data.h"

inline constexpr std::u16string_view kDefaultAdminName = u"Admin";
inline constexpr std::u16string_view kDefaultAdminPassword = u"OwnerCode";

// "Default Group", GUID {086038C5-7A1C-4901-A8C5-EF34E1D8BFB2}, flags GroupOpen | GroupReadOnly,
// owner UID 0, no access entries, no data and no macros.
std::unique_ptr<CMVS5MacroGroup> MakeDefaultGroup();

// Whether the account is exactly the default administrator: name, password and flags 1.
bool IsDefaultAdministrator(const UserAccount& account);

// Appends the default administrator with the next UID. REQUIRES: no other thread uses the store.
void AddDefaultAdministrator(CMVS5Data& data);
