#include "platform/console.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/clock.h"

// Every case runs in a child process (a death test): console signals are process-wide and must
// be set up before any other thread exists, which the test runner cannot promise.
namespace platform {
namespace {

constexpr int kConsoleSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kHandlerExitBase = 40;
constexpr int kOnMainThread = 98;
constexpr int kTimedOut = 99;

pthread_t g_main_thread;
std::atomic<int> g_calls{0};
std::atomic<int> g_last_signal{0};
std::atomic<bool> g_main_went_on{false};

// The child's last resort: a signal that never arrives ends it with kTimedOut, not a hang.
template <class Done>
void WaitUpTo5s(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) SleepMs(10);
}

void StartChild() {
  prctl(PR_SET_DUMPABLE, 0);  // SIGQUIT would otherwise leave a core file behind
  g_main_thread = pthread_self();
  StartConsoleSignals();
}

void SendAndWait(int sig) {
  kill(getpid(), sig);
  WaitUpTo5s([] { return false; });
  _exit(kTimedOut);
}

void ExitFromHandler(int sig) {
  _exit(pthread_equal(pthread_self(), g_main_thread) ? kOnMainThread : kHandlerExitBase + sig);
}

void CountingHandler(int sig) {
  g_last_signal = sig;
  ++g_calls;
}

void BlockingHandler(int sig) {
  // Blocks until the main thread shows that it keeps running meanwhile.
  g_calls = 1;
  WaitUpTo5s([] { return g_main_went_on.load(); });
  _exit(g_main_went_on ? kHandlerExitBase + sig : kTimedOut);
}

class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// One test per signal: under ThreadSanitizer every child that ends with _exit costs a second.
class ConsoleSignalTest : public ConsoleTest, public testing::WithParamInterface<int> {};

TEST_P(ConsoleSignalTest, WithoutHandlerEndsTheProcess) {
  EXPECT_EXIT(
      {
        StartChild();
        SendAndWait(GetParam());
      },
      testing::KilledBySignal(GetParam()), "");
}

TEST_P(ConsoleSignalTest, HandlerRunsOnTheSignalThread) {
  EXPECT_EXIT(
      {
        StartChild();
        SetConsoleCtrlHandler(ExitFromHandler);
        SendAndWait(GetParam());
      },
      testing::ExitedWithCode(kHandlerExitBase + GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(Each, ConsoleSignalTest, testing::ValuesIn(kConsoleSignals),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

TEST_F(ConsoleTest, HandlerMayBlockWhileTheProcessGoesOn) {
  EXPECT_EXIT(
      {
        StartChild();
        SetConsoleCtrlHandler(BlockingHandler);
        kill(getpid(), SIGINT);
        WaitUpTo5s([] { return g_calls.load() == 1; });
        g_main_went_on = true;
        WaitUpTo5s([] { return false; });
        _exit(kTimedOut);
      },
      testing::ExitedWithCode(kHandlerExitBase + SIGINT), "");
}

TEST_F(ConsoleTest, EachSignalRunsTheHandlerAgain) {
  EXPECT_EXIT(
      {
        StartChild();
        SetConsoleCtrlHandler(CountingHandler);
        kill(getpid(), SIGINT);
        WaitUpTo5s([] { return g_calls.load() == 1; });
        kill(getpid(), SIGTERM);
        WaitUpTo5s([] { return g_calls.load() == 2; });
        _exit(g_calls == 2 && g_last_signal == SIGTERM ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ConsoleTest, ClearedHandlerRestoresTheDefault) {
  EXPECT_EXIT(
      {
        StartChild();
        SetConsoleCtrlHandler(ExitFromHandler);
        SetConsoleCtrlHandler(nullptr);
        SendAndWait(SIGTERM);
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST_F(ConsoleTest, SignalIgnoredAtStartStaysIgnored) {
  EXPECT_EXIT(
      {
        signal(SIGHUP, SIG_IGN);  // as under nohup
        StartChild();
        SetConsoleCtrlHandler(ExitFromHandler);
        kill(getpid(), SIGHUP);  // if taken, it would be the handler's first signal
        SendAndWait(SIGTERM);
      },
      testing::ExitedWithCode(kHandlerExitBase + SIGTERM), "");
}

}  // namespace
}  // namespace platform
