#include "support/in_process_server.h"

#include <stdexcept>

#include "host/process_state.h"
#include "support/test_client.h"

namespace testing_support {

InProcessServer::InProcessServer(const std::function<void(CMVS5Data&)>& fill,
                                 const std::string& ini_lines)
    : port_(FreePort()) {
  settings_ = std::make_unique<CMVS5Settings>();
  settings_->ini_file_path = dir_ / "server.ini";
  WriteFile(settings_->ini_file_path, "[Main]\nNetworkTCPPort=" + std::to_string(port_) +
                                          "\nDataFile=" + (dir_ / "server.dat") + "\n" +
                                          ini_lines + "\n");
  settings_->ReadSettings();
  if (fill) fill(settings_->data);
  server_ = std::make_unique<CMVServer5>(*settings_);
  if (!server_->Initialize()) throw std::runtime_error("Initialize");
  loop_ = std::thread([this] { server_->AcceptLoop(); });
  // The loop clears the stop flag when it starts: wait until it listens before anyone may set it.
  for (int i = 0; i < 500; ++i) {
    if (TestClient(port_).connected()) return;
    std::this_thread::sleep_for(10ms);
  }
  throw std::runtime_error("the in-process server does not listen");
}

InProcessServer::~InProcessServer() {
  Process().stop.store(true);
  loop_.join();
  server_.reset();
}

}  // namespace testing_support
