// The running program's own executable file.
#pragma once

#include <string>

namespace platform {

// The full path of the running executable, with symbolic links resolved, so that files kept
// beside it are found in the folder the program was actually started from (a copy in another
// folder finds the files there). Empty when the path cannot be determined. If the file has been
// deleted since the start, the path ends in " (deleted)", as the kernel reports it.
std::string ModuleFileName();

}  // namespace platform
