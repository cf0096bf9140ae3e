#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/text.h"

namespace platform {
namespace {

// Owns an open descriptor and closes it.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole file, or nothing when it cannot be opened or read or is not a regular file.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is then refused as not regular.
  const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string data;
  char chunk[16384];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return data;
    data.append(chunk, static_cast<size_t>(n));
  }
}

std::u16string DecodeFile(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                    static_cast<uint8_t>(bytes[i + 1]) << 8);
    }
    return text;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return ToUtf16(bytes);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Takes the next line off the front of `text`; a line ends at LF, CR LF or CR.
std::u16string_view NextLine(std::u16string_view& text) {
  const size_t end = text.find_first_of(u"\r\n");
  if (end == std::u16string_view::npos) {
    const std::u16string_view line = text;
    text = {};
    return line;
  }
  const std::u16string_view line = text.substr(0, end);
  const bool crlf = text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n';
  text.remove_prefix(end + (crlf ? 2 : 1));
  return line;
}

// The trimmed value of `key` in the first section named `section`, as a view into `text`.
std::optional<std::u16string_view> FindValue(std::u16string_view text, std::u16string_view section,
                                             std::u16string_view key) {
  bool in_section = false;
  while (!text.empty()) {
    const std::u16string_view line = Trim(NextLine(text));
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      const size_t close = line.rfind(u']');
      if (close == std::u16string_view::npos) continue;
      // Only the first section of that name is read: its end ends the search.
      if (in_section) return std::nullopt;
      in_section = NamesEqual(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos) continue;
    if (NamesEqual(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
  }
  return std::nullopt;
}

std::optional<std::u16string_view> LookUp(const std::string& path, std::u16string& text,
                                          std::string_view section, std::string_view key) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  text = DecodeFile(*bytes);
  return FindValue(text, ToUtf16(section), ToUtf16(key));
}

std::u16string_view Unquote(std::u16string_view value) {
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == u'"' || value.front() == u'\'')) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string CutToUnits(std::u16string_view s, size_t max_units) {
  if (s.size() <= max_units) return std::u16string(s);
  size_t n = max_units;
  if (n > 0 && IsHighSurrogate(s[n - 1]) && IsLowSurrogate(s[n])) --n;
  return std::u16string(s.substr(0, n));
}

uint32_t ParseInt(std::u16string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == u'-' || s.front() == u'+')) {
    negative = s.front() == u'-';
    s.remove_prefix(1);
  }
  uint32_t value = 0;
  for (const char16_t c : s) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + static_cast<uint32_t>(c - u'0');  // unsigned: wraps modulo 2^32
  }
  return negative ? 0u - value : value;
}

}  // namespace

uint32_t IniReadInt(const std::string& path, std::string_view section, std::string_view key,
                    uint32_t default_value) {
  std::u16string text;
  const std::optional<std::u16string_view> value = LookUp(path, text, section, key);
  if (!value) return default_value;
  const std::u16string_view unquoted = Unquote(*value);
  return unquoted.empty() ? default_value : ParseInt(unquoted);
}

std::u16string IniReadString(const std::string& path, std::string_view section,
                             std::string_view key, std::u16string_view default_value,
                             size_t max_units) {
  std::u16string text;
  const std::optional<std::u16string_view> value = LookUp(path, text, section, key);
  return CutToUnits(value ? Unquote(*value) : default_value, max_units);
}

}  // namespace platform
