#include "platform/module.h"

#include <unistd.h>

namespace platform {

std::string ModuleFileName() {
  // readlink does not say whether the buffer was large enough; retry larger while it fills up.
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace platform
