#include "host/service_commands.h"

#include <unistd.h>

#include <cstring>

namespace {

void Print(const char* text) { (void)!write(STDOUT_FILENO, text, std::strlen(text)); }

// The service manager is not reachable from this build: every command stops where it would
// open it.
bool OpenServiceManager() {
  Print("Cannot open service control manager\n");
  return false;
}

}  // namespace

bool ServiceInstall() {
  Print("Installing service...\n");
  return OpenServiceManager();
}

bool ServiceRemove() {
  Print("Removing service...\n");
  return OpenServiceManager();
}

bool ServiceStart() {
  Print("Starting service...\n");
  return OpenServiceManager();
}

bool ServiceStop() {
  Print("Stopping service...\n");
  return OpenServiceManager();
}
