// MVServer5: the macro server's entry point.
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "host/process_state.h"
#include "host/run_server.h"
#include "host/service_commands.h"
#include "host/service_host.h"
#include "platform/console.h"
#include "platform/version.h"

PLATFORM_PRODUCT_VERSION(MVS5_VERSION_MAJOR, MVS5_VERSION_MINOR, MVS5_VERSION_PATCH,
                         MVS5_VERSION_TWEAK);

namespace {

void Print(const std::string& text) { (void)!write(STDOUT_FILENO, text.data(), text.size()); }

constexpr char kHelp[] =
    "Morvane Server v5 Windows service. Available options are:\n"
    "  -install\n  -remove\n  -start\n  -stop\n  -restart\n  -addDefaultUser\n  -run\n"
    "\nPlease note that you may need admin rights to change configuration of your PC.\n";

// Options compare case-insensitively; they are ASCII, so ASCII folding decides.
bool Is(const char* argument, const char* option) { return strcasecmp(argument, option) == 0; }

}  // namespace

int main(int argc, char** argv) {
  platform::StartConsoleSignals();
  ProcessState& process = Process();  // creates the run-finished event before anything else

  bool run = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (Is(a, "-install")) {
      ServiceInstall();
    } else if (Is(a, "-remove")) {
      ServiceRemove();
    } else if (Is(a, "-start")) {
      ServiceStart();
    } else if (Is(a, "-restart")) {
      ServiceStop();
      ServiceStart();
    } else if (Is(a, "-stop")) {
      ServiceStop();
    } else if (Is(a, "-addDefaultUser")) {
      process.add_default_user = true;
    } else if (Is(a, "-run")) {
      run = true;
    } else if (Is(a, "-help")) {
      Print(kHelp);
    } else {
      Print(std::string("Unknown option: ") + a + ". Try -help for help\n");
    }
  }

  if (StartServiceCtrlDispatcher()) return 0;
  if (run || process.add_default_user) {
    const int result = RunServer();
    // After a console stop the control handler ends the process, with exit code 1, as soon as
    // it sees the run finished; the entry point must not end it first.
    while (process.console_stop.load()) pause();
    return result;
  }
  if (argc <= 1) Print("Morvane Server v5 Windows service. Try -help for help\n");
  return 2;
}
