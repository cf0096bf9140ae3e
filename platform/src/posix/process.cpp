#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

extern char** environ;

namespace platform {
namespace {

bool IsUnset(std::string_view entry, const std::vector<std::string>& unset_env) {
  const std::string_view name = entry.substr(0, entry.find('='));
  return std::find(unset_env.begin(), unset_env.end(), name) != unset_env.end();
}

// Frees the spawn attributes and file actions on every path out of StartProcess.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::optional<int> StartProcess(const std::string& path, const std::vector<std::string>& args,
                                const std::vector<std::string>& unset_env) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  if (argv.empty()) argv.push_back(const_cast<char*>(path.c_str()));
  argv.push_back(nullptr);

  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!IsUnset(*e, unset_env)) envp.push_back(*e);
  }
  envp.push_back(nullptr);

  SpawnSetup setup;
  // The server blocks its console signals in every thread and may ignore others; a child must
  // not inherit either, or it could not be stopped the ordinary way.
  sigset_t empty, all;
  sigemptyset(&empty);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&setup.attr, &empty);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Descriptors are not handed on: a listening socket held by a child would keep the port busy
  // after the server itself has closed it.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

  pid_t pid;
  const int rc =
      posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attr, argv.data(), envp.data());
  if (rc != 0) {
    errno = rc;
    return std::nullopt;
  }
  return pid;
}

}  // namespace platform
