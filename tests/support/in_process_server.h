// A server run inside the test process, on a thread of its own, so that tests and benchmarks
// can look at its internals (the snapshot cache, the store) while clients talk to it.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "host/settings.h"
#include "net/server.h"
#include "support/server_process.h"

namespace testing_support {

class InProcessServer {
 public:
  // Settings from an INI file in a temporary folder (a free port, `ini_lines` added), the store
  // loaded from the folder's data file and then given to `fill`; then the accept loop starts.
  explicit InProcessServer(const std::function<void(CMVS5Data&)>& fill = {},
                           const std::string& ini_lines = "");
  // Stops the accept loop and destroys the server.
  ~InProcessServer();

  uint16_t port() const { return port_; }
  CMVS5Settings& settings() { return *settings_; }
  CMVServer5& server() { return *server_; }

 private:
  TempDir dir_;
  uint16_t port_;
  std::unique_ptr<CMVS5Settings> settings_;
  std::unique_ptr<CMVServer5> server_;
  std::thread loop_;
};

}  // namespace testing_support
