// State shared by the entry point, the control handlers and the accept loop for the whole run.
#pragma once

#include <atomic>

#include "platform/event.h"

class CMVServer5;

struct ProcessState {
  // Signalled by RunServer once its work is done (after the final save); the console control
  // handler waits for it.
  platform::Event run_finished;
  // Set by the control handlers; cleared by the accept loop when it starts, which ends when it
  // sees it set.
  std::atomic<bool> stop{false};
  // Set by the console control handler before the stop flag: the handler, not the entry point,
  // then ends the process (with exit code 1).
  std::atomic<bool> console_stop{false};
  bool service_mode = false;
  bool add_default_user = false;
  // The server the accept loop runs, while it runs.
  CMVServer5* current_server = nullptr;
};

// The one process state; the first call creates it (the entry point calls it first of all).
ProcessState& Process();
