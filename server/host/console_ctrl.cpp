#include "host/console_ctrl.h"

#include <unistd.h>

#include "host/process_state.h"

void ConsoleCtrlHandler(int /*signal*/) {
  ProcessState& process = Process();
  process.console_stop.store(true);
  process.stop.store(true);
  process.run_finished.Wait(10000);
  // Other threads may still run: end at once, without running static destructors under them.
  _exit(1);
}
