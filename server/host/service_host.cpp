#include "host/service_host.h"

bool StartServiceCtrlDispatcher() {
  return false;  // this build is never started by a service manager
}
