#include "platform/module.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"

namespace platform {
namespace {

constexpr char kOutVariable[] = "MVS5_MODULE_TEST_OUT";

TEST(Module, NamesTheRunningExecutable) {
  const std::string path = ModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  struct stat named, running;
  ASSERT_EQ(stat(path.c_str(), &named), 0) << path;
  ASSERT_EQ(stat("/proc/self/exe", &running), 0);
  EXPECT_EQ(named.st_dev, running.st_dev);
  EXPECT_EQ(named.st_ino, running.st_ino);
}

// Run only by CopyInAnotherFolderNamesItself, inside the copy: writes the copy's own path.
TEST(Module, DISABLED_WritePathForParent) {
  const char* out = getenv(kOutVariable);
  if (out == nullptr) GTEST_SKIP() << kOutVariable << " is not set";
  std::ofstream(out) << ModuleFileName();
}

TEST(Module, CopyInAnotherFolderNamesItself) {
  char pattern[] = "/tmp/module_test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  struct RemoveDir {
    std::string path;
    ~RemoveDir() { std::filesystem::remove_all(path); }
  } remove_dir{dir};
  const std::string folder = dir + "/other folder";
  const std::string copy = folder + "/copy_of_tests";
  const std::string out = dir + "/path.txt";
  std::filesystem::create_directory(folder);
  std::filesystem::copy_file(ModuleFileName(), copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);

  ASSERT_EQ(setenv(kOutVariable, out.c_str(), 1), 0);
  const std::optional<int> pid =
      StartProcess(copy, {copy, "--gtest_filter=Module.DISABLED_WritePathForParent",
                          "--gtest_also_run_disabled_tests"});
  unsetenv(kOutVariable);
  ASSERT_TRUE(pid.has_value());
  int status = -1;
  ASSERT_EQ(waitpid(*pid, &status, 0), *pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::stringstream reported;
  reported << std::ifstream(out).rdbuf();
  EXPECT_EQ(reported.str(), copy);
}

}  // namespace
}  // namespace platform
