#include "host/process_state.h"

ProcessState& Process() {
  // Never destroyed: the control handler's thread may still use it while the process exits.
  static ProcessState* state = new ProcessState;
  return *state;
}
