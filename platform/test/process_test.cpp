#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// The wait status of a started child, or -1 when it could not be started.
int RunToEnd(const std::vector<std::string>& args, const std::vector<std::string>& unset_env = {}) {
  const std::optional<int> pid = StartProcess(args[0], args, unset_env);
  if (!pid) return -1;
  int status = 0;
  while (waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

int ShellExitCode(const std::string& script, const std::vector<std::string>& unset_env = {}) {
  const int status = RunToEnd({"/bin/sh", "-c", script}, unset_env);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/process_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

TEST_F(ProcessTest, ReportsTheChildsExitCode) {
  for (const int code : {0, 7, 255}) {
    EXPECT_EQ(ShellExitCode("exit " + std::to_string(code)), code);
  }
  EXPECT_EQ(RunToEnd({"/bin/true"}), 0);
  const std::optional<int> pid = StartProcess("/bin/true", {});  // program name taken from path
  ASSERT_TRUE(pid.has_value());
  int status = -1;
  ASSERT_EQ(waitpid(*pid, &status, 0), *pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ProcessTest, ArgumentsArriveUnchanged) {
  const std::string out = dir_ + "/args";
  ASSERT_EQ(
      RunToEnd({"/bin/sh", "-c", "printf '%s|' \"$@\" > \"$0\"", out, "a b", "", "c*", "$HOME"}),
      0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "a b||c*|$HOME|");
}

TEST_F(ProcessTest, ProgramThatCannotStartGivesNothing) {
  const std::string plain = dir_ + "/not-executable";
  std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
  struct Case {
    std::string path;
    int error;
  };
  const Case cases[] = {
      {dir_ + "/missing", ENOENT},
      {plain, EACCES},
      {dir_, EACCES},
      {"sh", ENOENT},  // a bare name is not looked up in PATH
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(StartProcess(c.path, {c.path, "-c", "exit 0"}), std::nullopt) << c.path;
    EXPECT_EQ(errno, c.error) << c.path;
  }
}

TEST_F(ProcessTest, UnsetVariablesAreLeftOut) {
  ASSERT_EQ(setenv("MVS5_PROCESS_TEST_A", "1", 1), 0);
  ASSERT_EQ(setenv("MVS5_PROCESS_TEST_B", "2", 1), 0);
  const std::string script =
      "test -z \"${MVS5_PROCESS_TEST_A+set}\" && test \"$MVS5_PROCESS_TEST_B\" = 2";
  struct Case {
    std::vector<std::string> unset_env;
    int expected;
  };
  const Case cases[] = {
      {{"MVS5_PROCESS_TEST_A"}, 0},
      {{"MVS5_PROCESS_TEST_B", "MVS5_PROCESS_TEST_A"}, 1},  // both gone
      {{}, 1},
      {{"MVS5_PROCESS_TEST"}, 1},  // names match whole, not as prefixes
      {{"mvs5_process_test_a"}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShellExitCode(script, c.unset_env), c.expected)
        << testing::PrintToString(c.unset_env);
  }
  EXPECT_STREQ(getenv("MVS5_PROCESS_TEST_A"), "1");  // the caller's own environment is untouched
  unsetenv("MVS5_PROCESS_TEST_A");
  unsetenv("MVS5_PROCESS_TEST_B");
}

TEST_F(ProcessTest, ChildStartsWithDefaultSignals) {
  // As in the server: console signals blocked in every thread, and one signal ignored.
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &old_mask), 0);
  struct sigaction ignore = {};
  struct sigaction old_term = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGTERM, &ignore, &old_term), 0);

  const int by_int = RunToEnd({"/bin/sh", "-c", "kill -INT $$; exit 3"});
  const int by_term = RunToEnd({"/bin/sh", "-c", "kill -TERM $$; exit 3"});

  sigaction(SIGTERM, &old_term, nullptr);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  EXPECT_TRUE(WIFSIGNALED(by_int) && WTERMSIG(by_int) == SIGINT) << by_int;
  EXPECT_TRUE(WIFSIGNALED(by_term) && WTERMSIG(by_term) == SIGTERM) << by_term;
}

TEST_F(ProcessTest, OnlyStandardDescriptorsAreInherited) {
  const int null_fd = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(null_fd, 0);
  const int fd = fcntl(null_fd, F_DUPFD, 10);
  close(null_fd);
  ASSERT_GE(fd, 10);
  const std::string n = std::to_string(fd);
  EXPECT_EQ(ShellExitCode("test -e /proc/$$/fd/2 && test ! -e /proc/$$/fd/" + n), 0);
  close(fd);
}

}  // namespace
}  // namespace platform
