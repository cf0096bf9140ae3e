#include "platform/bytes.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

std::byte* WriteCursor::Take(size_t n) {
  if (n > rest_.size()) {
    // Writers size their buffers first; running past the end means a size computation is wrong.
    std::fprintf(stderr, "WriteCursor: writing %zu bytes with %zu left\n", n, rest_.size());
    std::abort();
  }
  std::byte* p = rest_.data();
  rest_ = rest_.subspan(n);
  return p;
}

}  // namespace platform
