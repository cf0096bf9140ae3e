#include "platform/version.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "platform/bytes.h"

namespace platform {
namespace {

// ELF headers are copied straight into the <elf.h> structs, which only matches a little-endian
// file on a little-endian host.
static_assert(std::endian::native == std::endian::little);

// Note sections are a few hundred bytes; a larger one is not ours and is not read into memory.
constexpr uint64_t kMaxNoteSection = 1 << 20;

class ReadOnlyFile {
 public:
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is then refused as not regular.
  explicit ReadOnlyFile(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ~ReadOnlyFile() {
    if (fd_ >= 0) close(fd_);
  }
  ReadOnlyFile(ReadOnlyFile&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  uint64_t size() const { return size_; }

  // Reads exactly `n` bytes at `offset`; false when any of them lies outside the file.
  bool ReadAt(uint64_t offset, void* out, uint64_t n) const {
    if (fd_ < 0 || offset > size_ || n > size_ - offset) return false;
    auto* p = static_cast<char*>(out);
    while (n > 0) {
      const ssize_t got = pread(fd_, p, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // shrank while being read, or an I/O error
      p += got;
      offset += static_cast<uint64_t>(got);
      n -= static_cast<uint64_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;  // 0 also for anything that is not a regular file
};

uint64_t AlignUp(uint64_t value, uint64_t align) { return (value + align - 1) & ~(align - 1); }

// Looks for the version note among the notes of one note section.
std::optional<ProductVersion> FindInNotes(std::span<const std::byte> notes, uint64_t align) {
  ReadCursor cur(notes);
  uint32_t namesz, descsz, type;
  while (cur.U32(namesz) && cur.U32(descsz) && cur.U32(type)) {
    std::span<const std::byte> name, desc;
    if (!cur.Bytes(namesz, name) || !cur.Skip(AlignUp(namesz, align) - namesz)) break;
    if (!cur.Bytes(descsz, desc)) break;
    // The last note may end without its padding.
    cur.Skip(std::min<uint64_t>(AlignUp(descsz, align) - descsz, cur.remaining()));
    if (type == kVersionNoteType && namesz == sizeof kVersionNoteName &&
        std::memcmp(name.data(), kVersionNoteName, namesz) == 0 && descsz == 8) {
      return ProductVersion{LoadU32(desc.data()), LoadU32(desc.data() + 4)};
    }
  }
  return std::nullopt;
}

template <class Ehdr, class Shdr>
std::optional<ProductVersion> FindInSections(const ReadOnlyFile& file) {
  Ehdr eh;
  if (!file.ReadAt(0, &eh, sizeof eh)) return std::nullopt;
  if (eh.e_shoff == 0 || eh.e_shentsize < sizeof(Shdr)) return std::nullopt;
  uint64_t count = eh.e_shnum;
  if (count == 0) {
    // With 0xFF00 sections or more, the count is kept in the first section header.
    Shdr first;
    if (!file.ReadAt(eh.e_shoff, &first, sizeof first)) return std::nullopt;
    count = first.sh_size;
  }
  // The whole table must lie inside the file; this also keeps the offsets below from wrapping.
  if (eh.e_shoff > file.size() || count > (file.size() - eh.e_shoff) / eh.e_shentsize) {
    return std::nullopt;
  }
  for (uint64_t i = 0; i < count; ++i) {
    Shdr sh;
    if (!file.ReadAt(eh.e_shoff + i * eh.e_shentsize, &sh, sizeof sh)) return std::nullopt;
    if (sh.sh_type != SHT_NOTE || sh.sh_size > kMaxNoteSection) continue;
    std::vector<std::byte> notes(static_cast<size_t>(sh.sh_size));
    if (!file.ReadAt(sh.sh_offset, notes.data(), notes.size())) continue;
    if (auto version = FindInNotes(notes, sh.sh_addralign == 8 ? 8 : 4)) return version;
  }
  return std::nullopt;
}

}  // namespace

std::optional<ProductVersion> ReadProductVersion(const std::string& path) {
  const ReadOnlyFile file(path);
  unsigned char ident[EI_NIDENT];
  if (!file.ReadAt(0, ident, sizeof ident)) return std::nullopt;
  if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB) {
    return std::nullopt;
  }
  switch (ident[EI_CLASS]) {
    case ELFCLASS64:
      return FindInSections<Elf64_Ehdr, Elf64_Shdr>(file);
    case ELFCLASS32:
      return FindInSections<Elf32_Ehdr, Elf32_Shdr>(file);
    default:
      return std::nullopt;
  }
}

}  // namespace platform
