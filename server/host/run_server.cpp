#include "host/run_server.h"

#include <memory>
#include <vector>

#include "host/default_objects.h"
#include "host/process_state.h"
#include "host/settings.h"
#include "net/server.h"

namespace {

// The -addDefaultUser reset. Returns false when an intact default administrator exists and
// nothing is to be done; otherwise removes every account named exactly "Admin".
bool RemoveStaleAdmins(CMVS5Data& data) {
  auto& users = data.users();
  for (auto it = users.rbegin(); it != users.rend(); ++it) {
    if (IsDefaultAdministrator(*it)) return false;
  }
  std::erase_if(users, [](const UserAccount& u) { return u.name == kDefaultAdminName; });
  return true;
}

}  // namespace

int RunServer() {
  ProcessState& process = Process();
  auto settings = std::make_unique<CMVS5Settings>();
  settings->ReadSettings();  // a missing or unreadable data file leaves what was read
  CMVS5Data& data = settings->data;

  // Before any session exists: no lock needed, and neither addition marks the store dirty.
  if (data.groups().empty()) data.AppendGroup(MakeDefaultGroup());
  if (process.add_default_user && !RemoveStaleAdmins(data)) {
    process.run_finished.Set();
    return 0;
  }
  if (process.add_default_user || data.users().empty()) AddDefaultAdministrator(data);
  if (process.add_default_user) {
    data.Save(settings->data_file_path);
    process.run_finished.Set();
    return 0;
  }

  auto server = std::make_unique<CMVServer5>(*settings);
  if (!server->Initialize()) return 1;
  process.current_server = server.get();
  const int result = server->AcceptLoop();
  server.reset();
  process.current_server = nullptr;

  data.Save(settings->data_file_path);  // whatever the dirty flag says, also after 2 or 3
  process.run_finished.Set();
  return result;
}
