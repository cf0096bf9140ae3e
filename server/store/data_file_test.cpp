#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "platform/clock.h"
#include "platform/file.h"
#include "store/data.h"
#include "store/store_test_util.h"

namespace {

using store_test::Add;
using store_test::AsText;
using store_test::Bytes;
using store_test::G;
using store_test::TempDir;

std::vector<std::byte> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::byte> out(chars.size());
  std::memcpy(out.data(), chars.data(), chars.size());
  return out;
}

void WriteAll(const std::string& path, const std::vector<std::byte>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

// One group with a one-character name, flags 0, owner 1, one granting entry for UID 1, no data
// of its own and one 3-byte macro; one account "A"/"p" with UID 1 and UserAdmin.
void FillExample(CMVS5Data& data) {
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(G(1));
  group->set_name(u"G");
  group->set_owner_uid(1);
  group->set_access_list({1 | AccessEntryGrant});
  Add(*group, G(2), "abc");
  data.AppendGroup(std::move(group));
  data.AddUser({u"A", u"p", UserAdmin, 0});
}

TEST(DataFile, WorkedExampleComesOutByteForByte) {
  TempDir dir;
  CMVS5Data data;
  FillExample(data);
  ASSERT_TRUE(data.Save(dir.File("d.dat")));
  const std::vector<std::byte> file = ReadAll(dir.File("d.dat"));
  ASSERT_EQ(file.size(), 137u);

  const uint32_t seed = platform::LoadU32(file.data() + 121);
  std::u16string password = u"p";
  ScramblePassword(seed, password);
  Bytes expected;
  expected.U32(97).U32(1).U32(1)                                      // header
      .U32(85).U32(1).U32(1).U32(0).U32(1).U32(1).U32(51).Utf16(u"G")  // group record
      .U32(1 | AccessEntryGrant)
      .Guid(G(1)).U32(0).U32(1)                                       // root record
      .Guid(G(2)).U32(3).U32(0).Raw("abc")                            // the macro
      .U32(40).U32(1).U32(1).U32(1)                                   // user section
      .U32(1).U32(1).U32(seed).U32(1).U32(1).Utf16(u"A").Utf16(password);
  EXPECT_EQ(file, expected.v);

  const auto stored = static_cast<char16_t>(static_cast<uint16_t>(file[135]) |
                                            static_cast<uint16_t>(file[136]) << 8);
  std::u16string unscrambled(1, stored);
  ScramblePassword(seed, unscrambled);
  EXPECT_EQ(unscrambled, u"p");
}

TEST(DataFile, SaveThenLoadGivesTheSameStore) {
  TempDir dir;
  CMVS5Data data;
  FillExample(data);
  auto second = std::make_unique<CMVS5MacroGroup>();
  second->set_guid(G(5));
  second->set_name(u"Second");
  second->set_flags(GroupOpen | GroupReadOnly);
  second->IncrementRevision();
  CMVS5Macro* m = Add(*second, G(6), "x");
  Add(*m, G(7), "y");
  data.AppendGroup(std::move(second));
  data.AddUser({u"b", u"", 0, 0});
  ASSERT_TRUE(data.Save(dir.File("d.dat")));

  CMVS5Data loaded;
  ASSERT_TRUE(loaded.Load(dir.File("d.dat")));
  ASSERT_EQ(loaded.groups().size(), 2u);
  const CMVS5MacroGroup& g = *loaded.groups()[1];
  EXPECT_EQ(g.name(), u"Second");
  EXPECT_EQ(g.flags(), GroupOpen | GroupReadOnly);
  EXPECT_EQ(g.revision(), 0u);
  EXPECT_EQ(store_test::RecordOf(g), store_test::RecordOf(*data.groups()[1]));
  EXPECT_EQ(loaded.FindGroup(G(1)), loaded.groups()[0].get());
  EXPECT_EQ(loaded.FindGroup(G(2)), nullptr);  // a macro, not a group
  ASSERT_EQ(loaded.users().size(), 2u);
  EXPECT_EQ(loaded.users()[0].password, u"p");
  EXPECT_EQ(loaded.users()[1].password, u"");
  EXPECT_EQ(loaded.UidCounter(), 2u);
}

TEST(DataFile, SaveLeavesOnlyTheDataFileWithMode0600) {
  TempDir dir;
  const std::string path = dir.File("d.dat");
  CMVS5Data data;
  FillExample(data);
  ASSERT_TRUE(data.Save(path));  // first save: no data file to back up
  ASSERT_TRUE(data.Save(path));  // second save: through the backup
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_FALSE(platform::FileExists(path + ".tmp"));
  EXPECT_FALSE(platform::FileExists(path + ".bak"));
  EXPECT_EQ(Mode(path), 0600u);
}

// Builds data files from parts, to load them.
class LoadTest : public ::testing::Test {
 protected:
  static Bytes Header(uint32_t size, uint32_t version, uint32_t groups) {
    return Bytes{}.U32(size).U32(version).U32(groups);
  }
  static Bytes Group(uint32_t version, const platform::Guid& guid) {
    Bytes root;
    root.Record(guid, "", 1).Record(G(9), "m", 0);
    return Bytes{}.U32(static_cast<uint32_t>(28 + 2 + root.size())).U32(version).U32(0).U32(0)
        .U32(1).U32(0).U32(static_cast<uint32_t>(root.size())).Utf16(u"n").Append(root);
  }
  static Bytes Users(uint32_t counter) {
    return Bytes{}.U32(16 + 22).U32(1).U32(counter).U32(1).U32(1).U32(0).U32(0).U32(1).U32(0)
        .Utf16(u"u");
  }
  static Bytes File(std::initializer_list<Bytes> groups, const Bytes& users) {
    Bytes out;
    uint32_t size = 12;
    for (const Bytes& g : groups) size += static_cast<uint32_t>(g.size());
    out = Header(size, 1, static_cast<uint32_t>(groups.size()));
    for (const Bytes& g : groups) out.Append(g);
    return out.Append(users);
  }

  bool Load(const Bytes& file) {
    WriteAll(dir.File("d.dat"), file.v);
    return data.Load(dir.File("d.dat"));
  }

  TempDir dir;
  CMVS5Data data;
};

TEST_F(LoadTest, AcceptsOrRejectsTheHeader) {
  const struct {
    const char* name;
    Bytes file;
    bool loads;
  } cases[] = {
      {"11 bytes", Bytes{}.U32(12).U32(1).Raw("abc"), false},
      {"empty", Bytes{}, false},
      {"12 bytes, no groups", Header(12, 1, 0), true},
      {"header size one larger than the file", Header(13, 1, 0), false},
      {"header size smaller than the file", Header(4, 1, 0).Append(Users(1)), true},
      {"file version 2", Header(12, 2, 0), false},
  };
  for (const auto& c : cases) {
    CMVS5Data fresh;
    WriteAll(dir.File("h.dat"), c.file.v);
    EXPECT_EQ(fresh.Load(dir.File("h.dat")), c.loads) << c.name;
    EXPECT_TRUE(fresh.groups().empty()) << c.name;
  }
}

TEST_F(LoadTest, MissingFileFails) {
  EXPECT_FALSE(data.Load(dir.File("none.dat")));
  EXPECT_TRUE(data.groups().empty());
}

TEST_F(LoadTest, FileEndingAfterTheGroupsHasNoAccounts) {
  ASSERT_TRUE(Load(File({Group(1, G(1)), Group(1, G(2))}, Bytes{})));
  EXPECT_EQ(data.groups().size(), 2u);
  EXPECT_TRUE(data.users().empty());
  EXPECT_EQ(data.UidCounter(), 0u);
  EXPECT_EQ(data.AddUser({u"Admin", u"OwnerCode", UserAdmin, 0}), 1u);
}

TEST_F(LoadTest, CounterFromTheFileGivesTheNextUid) {
  ASSERT_TRUE(Load(File({}, Bytes{}.U32(16).U32(1).U32(7).U32(0))));
  EXPECT_TRUE(data.users().empty());
  EXPECT_EQ(data.AddUser({u"Admin", u"OwnerCode", UserAdmin, 0}), 8u);
}

TEST_F(LoadTest, AGroupRecordOfVersion2StopsTheLoad) {
  EXPECT_FALSE(Load(File({Group(1, G(1)), Group(2, G(2)), Group(1, G(3))}, Users(5))));
  ASSERT_EQ(data.groups().size(), 1u);  // the groups before it stay
  EXPECT_EQ(data.groups()[0]->guid(), G(1));
  EXPECT_TRUE(data.users().empty());
  EXPECT_EQ(data.UidCounter(), 0u);
}

TEST_F(LoadTest, MoreGroupsCountedThanPresentFails) {
  Bytes file = File({Group(1, G(1))}, Bytes{});
  platform::StoreU32(file.v.data() + 8, 0xFFFFFFFF);
  EXPECT_FALSE(Load(file));
  EXPECT_EQ(data.groups().size(), 1u);
}

TEST_F(LoadTest, ADamagedUserSectionKeepsTheGroups) {
  Bytes users = Users(5);
  users.v.pop_back();
  EXPECT_FALSE(Load(File({Group(1, G(1))}, users)));
  EXPECT_EQ(data.groups().size(), 1u);
  EXPECT_TRUE(data.users().empty());
  EXPECT_EQ(data.UidCounter(), 5u);
}

TEST_F(LoadTest, EveryTruncationOfAGoodFileStaysInsideTheBuffer) {
  // The file buffer is exactly the file's size, so under ASan any read past it would show.
  const Bytes good = File({Group(1, G(1)), Group(1, G(2))}, Users(4));
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut;
    cut.v.assign(good.v.begin(), good.v.begin() + static_cast<std::ptrdiff_t>(n));
    // Keep the header's size field valid so that the parse goes past the header.
    if (n >= 4) platform::StoreU32(cut.v.data(), static_cast<uint32_t>(std::min<size_t>(n, 12)));
    CMVS5Data fresh;
    WriteAll(dir.File("cut.dat"), cut.v);
    const bool loaded = fresh.Load(dir.File("cut.dat"));
    // Only a file that ends exactly after a group record (no user section) loads in full.
    const bool after_groups = n == 12 + Group(1, G(1)).size() * 2;
    EXPECT_EQ(loaded, after_groups) << n;
  }
  EXPECT_TRUE(Load(good));
  EXPECT_EQ(data.users().size(), 1u);
}

TEST_F(LoadTest, OnlyABackupLeftByAnInterruptedSaveIsRead) {
  const std::string path = dir.File("d.dat");
  WriteAll(path + ".bak", File({Group(1, G(1))}, Users(3)).v);
  ASSERT_TRUE(data.Load(path));
  EXPECT_EQ(data.groups().size(), 1u);
  EXPECT_EQ(data.UidCounter(), 3u);

  // With a data file present the backup is older and is not looked at.
  WriteAll(path, File({Group(1, G(7)), Group(1, G(8))}, Users(9)).v);
  CMVS5Data second;
  ASSERT_TRUE(second.Load(path));
  EXPECT_EQ(second.groups().size(), 2u);

  // A temporary file is never trusted: it may be cut anywhere.
  platform::DeleteFile(path);
  platform::DeleteFile(path + ".bak");
  WriteAll(path + ".tmp", File({Group(1, G(1))}, Users(3)).v);
  CMVS5Data third;
  EXPECT_FALSE(third.Load(path));
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override { FillExample(data); }

  std::string Path() const { return dir.File("d.dat"); }

  // The groups in the file at `path`, by their first GUID byte.
  static std::vector<int> GroupsIn(const std::string& path) {
    CMVS5Data loaded;
    EXPECT_TRUE(loaded.Load(path));
    std::vector<int> out;
    for (const auto& g : loaded.groups()) out.push_back(g->guid().bytes[0]);
    return out;
  }

  void AddGroup(uint8_t n) {
    auto g = std::make_unique<CMVS5MacroGroup>();
    g->set_guid(G(n));
    platform::ScopedLock guard(data.Lock(), platform::LockMode::Exclusive);
    data.AppendGroup(std::move(g));
    data.MarkDirty();
  }

  TempDir dir;
  CMVS5Data data;
};

TEST_F(SaveTest, DirtyStateAndLastSaveTime) {
  EXPECT_FALSE(data.IsDirty());
  AddGroup(2);
  EXPECT_TRUE(data.IsDirty());
  const uint64_t before = data.LastSaveTime();
  platform::SleepMs(5);
  ASSERT_TRUE(data.Save(Path()));
  EXPECT_FALSE(data.IsDirty());
  EXPECT_GT(data.LastSaveTime(), before);
}

TEST_F(SaveTest, AChangeCommittedDuringTheSaveKeepsTheStoreDirty) {
  AddGroup(2);
  // The change lands after the save let go of the lock and before it finishes.
  data.SetSaveProbe([this](CMVS5Data::SavePoint point) {
    if (point == CMVS5Data::SavePoint::TempFlushed) {
      platform::ScopedLock guard(data.Lock(), platform::LockMode::Exclusive);
      data.MarkDirty();
    }
  });
  ASSERT_TRUE(data.Save(Path()));
  EXPECT_TRUE(data.IsDirty());
  data.SetSaveProbe(nullptr);
  ASSERT_TRUE(data.Save(Path()));
  EXPECT_FALSE(data.IsDirty());
}

TEST_F(SaveTest, AStaleTempFileIsReplaced) {
  WriteAll(Path() + ".tmp", Bytes{}.Raw("leftover of a crash, longer than nothing").v);
  ::chmod((Path() + ".tmp").c_str(), 0644);
  ASSERT_TRUE(data.Save(Path()));
  EXPECT_EQ(GroupsIn(Path()), std::vector<int>{1});
  EXPECT_FALSE(platform::FileExists(Path() + ".tmp"));
  EXPECT_EQ(Mode(Path()), 0600u);
}

TEST_F(SaveTest, AStaleBackupBesideTheDataFileDoesNotBlockSaves) {
  ASSERT_TRUE(data.Save(Path()));
  WriteAll(Path() + ".bak", Bytes{}.Raw("an older copy").v);
  AddGroup(2);
  ASSERT_TRUE(data.Save(Path()));
  EXPECT_EQ(GroupsIn(Path()), (std::vector<int>{1, 2}));
  EXPECT_FALSE(platform::FileExists(Path() + ".bak"));
  EXPECT_FALSE(data.IsDirty());
}

TEST_F(SaveTest, ABackupWithoutADataFileStaysUntilTheNewFileIsInPlace) {
  // The state a save interrupted between its renames leaves: the backup is the only copy.
  ASSERT_TRUE(data.Save(Path()));
  ASSERT_TRUE(platform::RenameNoReplace(Path(), Path() + ".bak").ok());
  WriteAll(Path() + ".tmp", Bytes{}.Raw("half").v);

  CMVS5Data restarted;
  ASSERT_TRUE(restarted.Load(Path()));
  ASSERT_EQ(restarted.groups().size(), 1u);

  int renamed_at = -1, deleted_at = -1, step = 0;
  restarted.SetSaveProbe([&](CMVS5Data::SavePoint point) {
    ++step;
    if (point == CMVS5Data::SavePoint::TempRenamedToData) {
      renamed_at = step;
      EXPECT_TRUE(platform::FileExists(Path() + ".bak"));  // still there at this moment
    }
    if (point == CMVS5Data::SavePoint::BackupDeleted) deleted_at = step;
    EXPECT_NE(point, CMVS5Data::SavePoint::StaleBackupDeleted);
  });
  ASSERT_TRUE(restarted.Save(Path()));
  EXPECT_GT(deleted_at, renamed_at);
  EXPECT_EQ(GroupsIn(Path()), std::vector<int>{1});
  EXPECT_FALSE(platform::FileExists(Path() + ".bak"));
}

TEST_F(SaveTest, AStoreTooBigForTheFormatIsNotWritten) {
  ASSERT_TRUE(data.Save(Path()));
  const std::vector<std::byte> before = ReadAll(Path());
  AddGroup(2);
  data.SetSizeLimit(before.size() + 10);  // stands in for the 32-bit limit
  EXPECT_FALSE(data.Save(Path()));
  EXPECT_TRUE(data.IsDirty());
  EXPECT_EQ(ReadAll(Path()), before);
  EXPECT_FALSE(platform::FileExists(Path() + ".tmp"));
  data.SetSizeLimit(UINT32_MAX);
  EXPECT_TRUE(data.Save(Path()));
}

TEST_F(SaveTest, ASaveThatCannotCreateItsTempFileChangesNothing) {
  AddGroup(2);
  const uint64_t last = data.LastSaveTime();
  EXPECT_FALSE(data.Save(dir.File("no/such/folder/d.dat")));
  EXPECT_TRUE(data.IsDirty());
  EXPECT_EQ(data.LastSaveTime(), last);
}

}  // namespace
