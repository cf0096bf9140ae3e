#include "platform/version.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

// The version this test program carries; the parts use all 16 bits so that a swapped or masked
// half shows.
PLATFORM_PRODUCT_VERSION(0x1234, 0x5678, 0x9ABC, 0xDEF0);

namespace platform {
namespace {

constexpr uint32_t kOwnMs = 0x12345678;
constexpr uint32_t kOwnLs = 0x9ABCDEF0;

std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Note(std::string_view name, uint32_t type, std::string_view desc) {
  std::string note =
      U32(static_cast<uint32_t>(name.size())) + U32(static_cast<uint32_t>(desc.size())) + U32(type);
  note += name;
  note.resize((note.size() + 3) & ~size_t{3}, '\0');
  note += desc;
  note.resize((note.size() + 3) & ~size_t{3}, '\0');
  return note;
}

const std::string kVersionName("ProdVer\0", 8);
const std::string kVersionDesc = U32(0x00050000) + U32(0x00000001);  // 5.0.0.1

// A small ELF file: header, one note section holding `notes`, and a section header table
// (null, a plain section, the note section) at the end.
template <class Ehdr, class Shdr>
std::string CraftElf(unsigned char elf_class, const std::string& notes) {
  Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = elf_class;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_EXEC;
  eh.e_version = EV_CURRENT;
  eh.e_ehsize = sizeof eh;
  eh.e_shoff = sizeof eh + notes.size();
  eh.e_shentsize = sizeof(Shdr);
  eh.e_shnum = 3;
  Shdr sections[3]{};
  sections[1].sh_type = SHT_PROGBITS;
  sections[1].sh_size = sizeof eh;
  sections[2].sh_type = SHT_NOTE;
  sections[2].sh_offset = sizeof eh;
  sections[2].sh_size = notes.size();
  sections[2].sh_addralign = 4;
  std::string file(reinterpret_cast<const char*>(&eh), sizeof eh);
  file += notes;
  file.append(reinterpret_cast<const char*>(sections), sizeof sections);
  return file;
}

std::string CraftElf64(const std::string& notes) {
  return CraftElf<Elf64_Ehdr, Elf64_Shdr>(ELFCLASS64, notes);
}

// A foreign note whose name and descriptor both need padding, then the version note.
const std::string kGoodNotes =
    Note(std::string("Go\0", 3), 4, "abcde") + Note(kVersionName, kVersionNoteType, kVersionDesc);

bool IsVersion(const std::optional<ProductVersion>& v, uint32_t ms, uint32_t ls) {
  return v && v->ms == ms && v->ls == ls;
}

class VersionTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/version_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& bytes, const std::string& name = "file") {
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good());
    return path;
  }
  std::optional<ProductVersion> Read(const std::string& bytes) {
    return ReadProductVersion(Write(bytes));
  }

  std::string dir_;
};

TEST_F(VersionTest, ExecutableCarriesItsVersion) {
  EXPECT_TRUE(IsVersion(ReadProductVersion("/proc/self/exe"), kOwnMs, kOwnLs));

  const std::string copy = dir_ + "/copy";
  std::filesystem::copy_file("/proc/self/exe", copy);
  EXPECT_TRUE(IsVersion(ReadProductVersion(copy), kOwnMs, kOwnLs));

  // The section headers sit at the end of the file: a cut copy has lost them.
  const auto size = std::filesystem::file_size(copy);
  for (const auto cut : {size - 1, size / 2, uint64_t{64}}) {
    std::filesystem::resize_file(copy, cut);
    EXPECT_EQ(ReadProductVersion(copy), std::nullopt) << cut;
  }
}

TEST_F(VersionTest, CraftedFilesOfBothClasses) {
  EXPECT_TRUE(IsVersion(Read(CraftElf64(kGoodNotes)), 0x00050000, 1));
  EXPECT_TRUE(
      IsVersion(Read(CraftElf<Elf32_Ehdr, Elf32_Shdr>(ELFCLASS32, kGoodNotes)), 0x00050000, 1));
}

TEST_F(VersionTest, FilesWithoutTheNote) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string big_endian = CraftElf64(kGoodNotes);
  big_endian[EI_DATA] = ELFDATA2MSB;
  std::string no_class = CraftElf64(kGoodNotes);
  no_class[EI_CLASS] = ELFCLASSNONE;
  const Case cases[] = {
      {"empty", ""},
      {"text", "#!/bin/sh\nexit 0\n"},
      {"ELF magic only", ELFMAG},
      {"big-endian", big_endian},
      {"unknown class", no_class},
      {"foreign notes only", CraftElf64(Note(std::string("GNU\0", 4), 1, "abcdefgh"))},
      {"other note type", CraftElf64(Note(kVersionName, 2, kVersionDesc))},
      {"other note name", CraftElf64(Note(std::string("ProdVeR\0", 8), 1, kVersionDesc))},
      {"short name", CraftElf64(Note(std::string("ProdVer"), 1, kVersionDesc))},
      {"short descriptor", CraftElf64(Note(kVersionName, 1, "abcd"))},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.bytes), std::nullopt) << c.name;

  EXPECT_EQ(ReadProductVersion(dir_ + "/missing"), std::nullopt);
  EXPECT_EQ(ReadProductVersion(dir_), std::nullopt);
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadProductVersion(fifo), std::nullopt);  // returns at once, without a writer
  EXPECT_EQ(ReadProductVersion("/bin/true"), std::nullopt);  // an ELF file with other notes
}

TEST_F(VersionTest, TruncatedFilesGiveNothing) {
  const std::string good = CraftElf64(kGoodNotes);
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_EQ(Read(good.substr(0, n)), std::nullopt) << n;
  }
}

template <class T>
std::string Patched(std::string bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
  return bytes;
}

TEST_F(VersionTest, CorruptFieldsAreBoundsChecked) {
  const std::string good = CraftElf64(kGoodNotes);
  const size_t shoff = sizeof(Elf64_Ehdr) + kGoodNotes.size();
  const size_t note_section = shoff + 2 * sizeof(Elf64_Shdr);
  const size_t version_note = good.find(kVersionName) - 12;
  constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"e_shoff past the end", Patched(good, offsetof(Elf64_Ehdr, e_shoff), uint64_t{1} << 40)},
      {"e_shoff near 2^64", Patched(good, offsetof(Elf64_Ehdr, e_shoff), kMax64 - 63)},
      {"table runs past the end",
       Patched(good, offsetof(Elf64_Ehdr, e_shoff), uint64_t{shoff + 8})},
      {"e_shentsize too small", Patched(good, offsetof(Elf64_Ehdr, e_shentsize), uint16_t{16})},
      {"e_shnum too large", Patched(good, offsetof(Elf64_Ehdr, e_shnum), uint16_t{0xFFFF})},
      {"extended count huge", Patched(Patched(good, offsetof(Elf64_Ehdr, e_shnum), uint16_t{0}),
                                      shoff + offsetof(Elf64_Shdr, sh_size), kMax64)},
      {"sh_offset near 2^64",
       Patched(good, note_section + offsetof(Elf64_Shdr, sh_offset), kMax64 - 3)},
      {"sh_size past the end",
       Patched(good, note_section + offsetof(Elf64_Shdr, sh_size), uint64_t{4096})},
      {"sh_size huge", Patched(good, note_section + offsetof(Elf64_Shdr, sh_size), kMax64)},
      {"namesz huge", Patched(good, version_note, uint32_t{0xFFFFFFFD})},
      {"descsz huge", Patched(good, version_note + 4, uint32_t{0xFFFFFFFF})},
      {"namesz runs into descriptor", Patched(good, version_note, uint32_t{12})},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.bytes), std::nullopt) << c.name;
}

// Whatever single byte outside the version's own descriptor is damaged, the reader either finds
// the true version or none: it neither crashes nor invents one.
TEST_F(VersionTest, DamagedBytesNeverGiveAWrongVersion) {
  const std::string good = CraftElf64(kGoodNotes);
  const size_t desc = good.find(kVersionDesc);
  ASSERT_NE(desc, std::string::npos);
  for (size_t i = 0; i < good.size(); ++i) {
    if (i >= desc && i < desc + kVersionDesc.size()) continue;
    for (const char value : {'\x00', '\x7F', '\xFF'}) {
      std::string bytes = good;
      bytes[i] = value;
      const std::optional<ProductVersion> v = Read(bytes);
      EXPECT_TRUE(!v || IsVersion(v, 0x00050000, 1)) << "byte " << i << " = " << int{value};
    }
  }
}

}  // namespace
}  // namespace platform
