#include "host/log.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxUnits = 1023;  // the 1,024-unit buffers of the log, less the terminator

std::atomic<int> log_fd{-1};

void WriteAll(int fd, const void* data, size_t size) {
  // One write per line; a short write (a full disk, a pipe closing) only loses the rest.
  (void)!write(fd, data, size);
}

}  // namespace

std::string FormatLogText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[1024];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string text;
  if (n < 0) return text;
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  text.resize(platform::CutToUtf16Units(text, kMaxUnits).size());
  return text;
}

void WriteLogLine(std::string_view message) {
  const platform::LocalTime t = platform::GetLocalTime();
  char stamp[64];
  const int n = std::snprintf(stamp, sizeof stamp, "%04i.%02i.%02i %02i:%02i:%02i.%03i ", t.year,
                              t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  std::string line(stamp, static_cast<size_t>(n));
  line += platform::CutToUtf16Units(message, kMaxUnits - 1 - line.size());
  line += '\n';

  const int fd = log_fd.load(std::memory_order_acquire);
  if (fd < 0) {
    WriteAll(STDOUT_FILENO, line.data(), line.size());
    return;
  }
  const std::u16string wide = platform::ToUtf16(line);
  std::vector<std::byte> bytes(wide.size() * 2);
  platform::WriteCursor(bytes).Utf16(wide);
  WriteAll(fd, bytes.data(), bytes.size());
}

void SetLogFile(int fd) { log_fd.store(fd, std::memory_order_release); }
