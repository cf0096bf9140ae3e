// Starting another program.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Starts the program at `path` with the argument list `args` (args[0] is the program name; an
// empty list passes `path` as args[0]) and returns at once, without waiting for it.
// - `path` is used as given: it is not searched in PATH.
// - The child gets an empty signal mask and the default action for every signal, whatever the
//   calling thread blocks or the process ignores.
// - Its environment is the caller's minus the variables named in `unset_env` (exact names).
// - It inherits standard input, output and error; every other descriptor is closed in it.
// Returns the child's pid, or nullopt with errno set when the program could not be started
// (missing, not executable, out of resources): a missing program never yields a running child.
// The caller reaps the child (waitpid); one never reaped stays a zombie until the caller ends.
std::optional<int> StartProcess(const std::string& path, const std::vector<std::string>& args,
                                const std::vector<std::string>& unset_env = {});

}  // namespace platform
