// A save killed at any moment must leave a complete copy, old or new, where Load finds it, and
// the next save must succeed. Each case forks a child that saves and is stopped: at every step
// of the save in turn, or by SIGKILL at a random moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "platform/clock.h"
#include "platform/file.h"
#include "store/data.h"
#include "store/store_test_util.h"

namespace {

using store_test::Add;
using store_test::G;
using store_test::TempDir;

constexpr int kStoppedByProbe = 42;

// A store whose groups are numbered 1..groups; every group has a few macros.
void Fill(CMVS5Data& data, int groups) {
  for (int n = 1; n <= groups; ++n) {
    auto group = std::make_unique<CMVS5MacroGroup>();
    group->set_guid(G(static_cast<uint8_t>(n)));
    group->set_name(u"group");
    for (int m = 0; m < 3; ++m) Add(*group, G(static_cast<uint8_t>(100 + m)), std::string(50, 'x'));
    data.AppendGroup(std::move(group));
  }
  data.AddUser({u"Admin", u"OwnerCode", UserAdmin, 0});
}

// The number of groups of the store found at `path`, or -1 when Load fails.
int GroupsFound(const std::string& path) {
  CMVS5Data loaded;
  if (!loaded.Load(path)) return -1;
  if (loaded.users().size() != 1 || loaded.users()[0].password != u"OwnerCode") return -2;
  return static_cast<int>(loaded.groups().size());
}

void WriteText(const std::string& path, const char* text) {
  std::ofstream(path, std::ios::binary) << text;
}

// What is on disk before the save that gets interrupted.
enum class Before { DataFile, DataFileAndStaleBackup, OnlyBackupAndStaleTemp };

class SaveCrashTest : public ::testing::TestWithParam<Before> {
 protected:
  std::string Path() const { return dir.File("d.dat"); }

  // Puts the old store (1 group) on disk in the state of the parameter.
  void PrepareOld() {
    for (const char* suffix : {"", ".tmp", ".bak"}) platform::DeleteFile(Path() + suffix);
    CMVS5Data old;
    Fill(old, 1);
    ASSERT_TRUE(old.Save(Path()));
    switch (GetParam()) {
      case Before::DataFile:
        break;
      case Before::DataFileAndStaleBackup:
        WriteText(Path() + ".bak", "stale backup");
        break;
      case Before::OnlyBackupAndStaleTemp:
        ASSERT_TRUE(platform::RenameNoReplace(Path(), Path() + ".bak").ok());
        WriteText(Path() + ".tmp", "stale temp");
        break;
    }
  }

  TempDir dir;
};

TEST_P(SaveCrashTest, StoppedAtEveryStepACompleteCopySurvives) {
  CMVS5Data next;
  Fill(next, 3);
  bool completed = false;
  for (int stop_at = 0; !completed && stop_at < 50; ++stop_at) {
    PrepareOld();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int step = 0;
      next.SetSaveProbe([&](CMVS5Data::SavePoint) {
        if (step++ == stop_at) _exit(kStoppedByProbe);
      });
      _exit(next.Save(Path()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) != kStoppedByProbe) {
      ASSERT_EQ(WEXITSTATUS(status), 0) << "save failed at step " << stop_at;
      completed = true;
    }
    const int found = GroupsFound(Path());
    EXPECT_TRUE(found == 1 || found == 3) << "stopped at step " << stop_at << ": " << found;
    if (completed) {
      EXPECT_EQ(found, 3);
    }

    // The next start goes on from what it found, and its save succeeds.
    CMVS5Data restarted;
    ASSERT_TRUE(restarted.Load(Path()));
    ASSERT_TRUE(restarted.Save(Path())) << "after a stop at step " << stop_at;
    EXPECT_EQ(GroupsFound(Path()), found);
    EXPECT_FALSE(platform::FileExists(Path() + ".bak"));
    EXPECT_FALSE(platform::FileExists(Path() + ".tmp"));
  }
  EXPECT_TRUE(completed);
}

TEST_P(SaveCrashTest, KilledAtRandomMomentsACompleteCopySurvives) {
  std::mt19937 random(12345);
  for (int round = 0; round < 12; ++round) {
    PrepareOld();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Alternates between two contents; bounded in case the kill comes late.
      CMVS5Data two, three;
      Fill(two, 2);
      Fill(three, 3);
      for (int i = 0; i < 200; ++i) (i % 2 == 0 ? three : two).Save(Path());
      _exit(0);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 4000)(random));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const int found = GroupsFound(Path());
    EXPECT_TRUE(found >= 1 && found <= 3) << "round " << round << ": " << found;
    CMVS5Data restarted;
    ASSERT_TRUE(restarted.Load(Path()));
    EXPECT_TRUE(restarted.Save(Path())) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(States, SaveCrashTest,
                         ::testing::Values(Before::DataFile, Before::DataFileAndStaleBackup,
                                           Before::OnlyBackupAndStaleTemp));

}  // namespace
