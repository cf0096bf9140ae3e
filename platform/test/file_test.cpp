#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mvs5_file_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const char* name) const { return dir_ + "/" + name; }

  void WriteText(const std::string& path, const std::string& text) {
    File f;
    ASSERT_TRUE(File::CreateForWriting(path, f).ok());
    ASSERT_TRUE(f.Write(text.data(), text.size()).ok());
    ASSERT_TRUE(f.Close().ok());
  }

  std::string ReadText(const std::string& path) {
    File f;
    EXPECT_TRUE(File::OpenForReading(path, f).ok());
    uint64_t size = 0;
    EXPECT_TRUE(f.Size(size).ok());
    std::string text(size, '\0');
    size_t got = 0;
    EXPECT_TRUE(f.Read(text.data(), text.size(), got).ok());
    EXPECT_EQ(got, size);
    return text;
  }

  static unsigned Mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }

  std::string dir_;
};

TEST_F(FileTest, WrittenBytesReadBackWithTheirSize) {
  const std::string path = Path("a");
  std::string text(100000, 'x');
  text[0] = '\0';
  text[99999] = 'z';
  WriteText(path, text);
  EXPECT_EQ(ReadText(path), text);
}

TEST_F(FileTest, ReadStopsAtTheEndOfTheFile) {
  WriteText(Path("a"), "abc");
  File f;
  ASSERT_TRUE(File::OpenForReading(Path("a"), f).ok());
  char buffer[10];
  size_t got = 99;
  ASSERT_TRUE(f.Read(buffer, sizeof buffer, got).ok());
  EXPECT_EQ(got, 3u);
}

TEST_F(FileTest, CreateTruncatesAndForcesMode0600) {
  const std::string path = Path("a");
  WriteText(path, "a long old content");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const mode_t old_mask = ::umask(0);
  WriteText(path, "new");
  ::umask(old_mask);
  EXPECT_EQ(ReadText(path), "new");
  EXPECT_EQ(Mode(path), 0600u);

  WriteText(Path("b"), "fresh");
  EXPECT_EQ(Mode(Path("b")), 0600u);
}

TEST_F(FileTest, CreateRefusesASymbolicLink) {
  WriteText(Path("target"), "keep");
  ASSERT_EQ(::symlink(Path("target").c_str(), Path("link").c_str()), 0);
  File f;
  const FileStatus status = File::CreateForWriting(Path("link"), f);
  EXPECT_EQ(status.error, ELOOP);
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(ReadText(Path("target")), "keep");
}

TEST_F(FileTest, OpeningAMissingFileNamesTheCall) {
  File f;
  const FileStatus status = File::OpenForReading(Path("missing"), f);
  EXPECT_EQ(status.error, ENOENT);
  EXPECT_EQ(status.ToString(), "open: No such file or directory");
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(FileStatus{}.ToString(), "ok");
}

TEST_F(FileTest, RenameNeverReplacesAnExistingTarget) {
  WriteText(Path("from"), "from");
  WriteText(Path("to"), "to");
  const FileStatus refused = RenameNoReplace(Path("from"), Path("to"));
  EXPECT_EQ(refused.error, EEXIST);
  EXPECT_EQ(refused.ToString(), "renameat2: File exists");
  EXPECT_EQ(ReadText(Path("to")), "to");
  EXPECT_EQ(ReadText(Path("from")), "from");

  ASSERT_TRUE(RenameNoReplace(Path("from"), Path("new")).ok());
  EXPECT_FALSE(FileExists(Path("from")));
  EXPECT_EQ(ReadText(Path("new")), "from");

  EXPECT_EQ(RenameNoReplace(Path("missing"), Path("other")).error, ENOENT);
}

TEST_F(FileTest, DeleteAndExists) {
  WriteText(Path("a"), "a");
  EXPECT_TRUE(FileExists(Path("a")));
  EXPECT_TRUE(DeleteFile(Path("a")).ok());
  EXPECT_FALSE(FileExists(Path("a")));
  EXPECT_EQ(DeleteFile(Path("a")).error, ENOENT);
}

TEST_F(FileTest, FlushesFilesAndFolders) {
  File f;
  ASSERT_TRUE(File::CreateForWriting(Path("a"), f).ok());
  ASSERT_TRUE(f.Write("abc", 3).ok());
  EXPECT_TRUE(f.Flush().ok());
  EXPECT_TRUE(f.Close().ok());
  EXPECT_FALSE(f.is_open());
  EXPECT_TRUE(FlushFolder(dir_).ok());
  EXPECT_EQ(FlushFolder(Path("missing")).error, ENOENT);
}

TEST_F(FileTest, HandlesMoveAndCloseOnce) {
  File a;
  ASSERT_TRUE(File::CreateForWriting(Path("a"), a).ok());
  File b(std::move(a));
  EXPECT_FALSE(a.is_open());
  ASSERT_TRUE(b.is_open());
  File c;
  c = std::move(b);
  EXPECT_FALSE(b.is_open());
  EXPECT_TRUE(c.Write("x", 1).ok());
  EXPECT_TRUE(c.Close().ok());
  EXPECT_EQ(ReadText(Path("a")), "x");
}

TEST(FolderOf, SplitsOffTheLastName) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"/a/b/c", "/a/b"}, {"/c", "/"}, {"c", "."}, {"a/c", "a"}, {"/a/b/MVServer5.dat", "/a/b"},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace platform
