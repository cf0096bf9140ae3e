// The product version a.b.c.d, stored inside the executable file and read back from a file.
//
// A program stores its version with PLATFORM_PRODUCT_VERSION(a, b, c, d), used once at namespace
// scope in its main .cpp. The version travels with the file (a copy reports it too) and is read
// from the file at a given path, not from the running process.
//
// Stored form (ELF backend): a note in section ".note.product_version" with the standard note
// header (namesz 8, descsz 8, type 1), the name "ProdVer\0" and a descriptor of two
// little-endian u32 words, ms = a << 16 | b and ls = c << 16 | d.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct ProductVersion {
  uint32_t ms;  // a << 16 | b
  uint32_t ls;  // c << 16 | d
};

// Reads the version note from the executable file at `path`. Returns nullopt when the file
// cannot be read, is not a regular file, is not a little-endian 32- or 64-bit ELF file, or
// carries no version note. Every offset and size in the file is checked: a truncated or corrupt
// file gives nullopt.
std::optional<ProductVersion> ReadProductVersion(const std::string& path);

// The layout of the stored note; only PLATFORM_PRODUCT_VERSION needs it.
struct VersionNote {
  uint32_t namesz;
  uint32_t descsz;
  uint32_t type;
  char name[8];
  uint32_t ms;
  uint32_t ls;
};
inline constexpr char kVersionNoteName[8] = {'P', 'r', 'o', 'd', 'V', 'e', 'r', '\0'};
inline constexpr uint32_t kVersionNoteType = 1;

// Each part must fit in 16 bits; a larger one stops the build.
consteval VersionNote MakeVersionNote(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  if (a > 0xFFFF || b > 0xFFFF || c > 0xFFFF || d > 0xFFFF) {
    throw "product version parts must fit in 16 bits";
  }
  VersionNote note{8, 8, kVersionNoteType, {}, a << 16 | b, c << 16 | d};
  for (int i = 0; i < 8; ++i) note.name[i] = kVersionNoteName[i];
  return note;
}

}  // namespace platform

// `used` and `retain` keep the otherwise unreferenced note through compiling and linking.
#define PLATFORM_PRODUCT_VERSION(a, b, c, d)                                      \
  __attribute__((section(".note.product_version"), used, retain, aligned(4))) \
  constexpr ::platform::VersionNote platform_product_version_note =            \
      ::platform::MakeVersionNote(a, b, c, d)
