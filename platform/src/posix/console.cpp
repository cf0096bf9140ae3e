#include "platform/console.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {
namespace {

constexpr int kConsoleSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<ConsoleHandler> g_handler{nullptr};

// Gives `sig` its default action on this thread: unblocked here, the re-sent signal ends the
// process as if it had never been blocked.
void ActDefault(int sig) {
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);
  pthread_sigmask(SIG_BLOCK, &one, nullptr);  // reached only if the action did not end us
}

void SignalLoop(sigset_t taken) {
  for (;;) {
    int sig = 0;
    const int rc = sigwait(&taken, &sig);
    if (rc != 0) {
      // Only an invalid set makes sigwait fail, and Start builds a valid one.
      std::fprintf(stderr, "sigwait: %s\n", std::strerror(rc));
      std::abort();
    }
    if (const ConsoleHandler handler = g_handler.load()) {
      handler(sig);
    } else {
      ActDefault(sig);
    }
  }
}

void Start() {
  sigset_t taken;
  sigemptyset(&taken);
  for (const int sig : kConsoleSignals) {
    struct sigaction current = {};
    sigaction(sig, nullptr, &current);
    if (current.sa_handler != SIG_IGN) sigaddset(&taken, sig);
  }
  if (sigisemptyset(&taken)) return;
  pthread_sigmask(SIG_BLOCK, &taken, nullptr);
  std::thread(SignalLoop, taken).detach();
}

}  // namespace

void StartConsoleSignals() {
  static std::once_flag once;
  std::call_once(once, Start);
}

void SetConsoleCtrlHandler(ConsoleHandler handler) { g_handler.store(handler); }

}  // namespace platform
