// ResolveWritablePath: a MacroPath from an editing request to a node, with the write check.
#include "host/settings.h"
#include "net/client_session.h"
#include "net/server.h"
#include "store/data.h"
#include "store/macro_path.h"

CMVS5Macro* CMVS5ClientSession::ResolveWritablePath(const MacroPath& path) {
  if (path.count == 0) {
    SendStatus(StatusConflict, u"Macro path is empty", StateLoggedIn);
    return nullptr;
  }
  CMVS5MacroGroup* group = server.settings.data.FindGroup(path.At(0));
  if (group == nullptr) {
    SendStatus(StatusNotFound, u"Specified macro group was not found", StateLoggedIn);
    return nullptr;
  }
  if (!(user_flags & UserAdmin)) {
    const uint32_t access = group->AccessFor(user_uid);
    if (access == AccessNone) {
      SendStatus(StatusNoRights, u"You do not have access to the specified macro group",
                 StateLoggedIn);
      return nullptr;
    }
    if (access == AccessRead) {
      SendStatus(StatusNoRights, u"You do not have write access to the specified macro group",
                 StateLoggedIn);
      return nullptr;
    }
  }
  CMVS5Macro* node = group->FindPath(path.BelowGroup());
  if (node == nullptr) SendStatus(StatusNotFound, u"Macro was not found", StateLoggedIn);
  return node;
}
