// Events, thread-pool waits, and the workers that take socket readiness and timeouts from epoll.
//
// One mutex (PoolMutex) guards all event, wait and timer state, so that arming, signalling,
// timing out and closing are simple to reason about; it is held only for list updates, never
// while a callback runs or a system call blocks.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/event.h"
#include "platform/pool.h"
#include "reactor.h"

namespace platform {

using Clock = std::chrono::steady_clock;

struct WaitCore;

struct EventCore {
  bool signalled = false;
  std::vector<WaitCore*> armed;  // waits armed on this event, oldest first
  int thread_waiters = 0;
  std::condition_variable cv;
};

struct GroupCore {
  std::list<std::shared_ptr<WaitCore>> members;
};

struct WaitCore {
  Wait::Callback callback = nullptr;
  void* context = nullptr;
  GroupCore* group = nullptr;  // none once closed
  std::list<std::shared_ptr<WaitCore>>::iterator member;
  EventCore* event = nullptr;  // armed on, or none
  std::multimap<Clock::time_point, WaitCore*>::iterator timer;
  bool has_timer = false;
  int running = 0;
  bool closed = false;
};

namespace {

[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "platform pool: %s: %s\n", what, std::strerror(errno));
  std::abort();
}

using Item = std::pair<std::shared_ptr<WaitCore>, uint32_t>;

// Set on a worker while it turns an event it took from epoll into callbacks: those then run on
// that same worker, so that a request costs one thread wake-up, not a hand-over to another.
thread_local std::vector<Item>* t_taken = nullptr;

// Every worker waits in epoll_wait for one event at a time: socket readiness, the timer
// descriptor (the earliest wait timeout) or the wake-up descriptor (work queued by a thread that
// is not handling an event). The worker that takes an event runs the callback it leads to.
class Pool {
 public:
  Pool() {
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (epoll_fd_ < 0 || wake_fd_ < 0 || timer_fd_ < 0) Fatal("epoll/eventfd/timerfd");
    // Edge-triggered: each write or expiry wakes one worker, which then looks at the queue.
    for (const auto& [fd, key] : {std::pair{wake_fd_, kWakeKey}, std::pair{timer_fd_, kTimerKey}}) {
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLET;
      ev.data.u64 = key;
      if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
    }
    threads_ = std::max(4u, 2 * std::thread::hardware_concurrency());
    for (unsigned i = 0; i < threads_; ++i) std::thread([this] { Work(); }).detach();
  }

  std::mutex mu;
  std::condition_variable idle_cv;  // a callback returned while someone closes its wait
  std::deque<Item> queue;           // callbacks no worker has taken yet
  std::multimap<Clock::time_point, WaitCore*> timers;
  unsigned threads_ = 0;
  uint64_t callbacks = 0;  // guarded by mu

  // REQUIRES: mu held.
  void Dispatch(const std::shared_ptr<WaitCore>& w, uint32_t result) {
    if (t_taken != nullptr) {
      t_taken->emplace_back(w, result);
      return;
    }
    queue.emplace_back(w, result);
    Wake();
  }

  // REQUIRES: mu held. Removes the wait from its event and its timer.
  void Disarm(WaitCore* w) {
    if (w->event != nullptr) {
      auto& armed = w->event->armed;
      armed.erase(std::find(armed.begin(), armed.end(), w));
      w->event = nullptr;
    }
    if (w->has_timer) {
      timers.erase(w->timer);  // the timer descriptor may still fire for it: nothing is due then
      w->has_timer = false;
    }
  }

  // REQUIRES: mu held.
  void AddTimer(WaitCore* w, Clock::time_point deadline) {
    w->timer = timers.emplace(deadline, w);
    w->has_timer = true;
    if (deadline < timer_set_for_) SetTimer(deadline);
  }

  uint64_t Register(std::shared_ptr<SocketCore> socket, int fd) {
    uint64_t key;
    {
      std::lock_guard lock(registry_mu_);
      key = ++last_key_;
      registry_.emplace(key, std::move(socket));
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = key;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl add");
    return key;
  }

  void Refresh(int fd, uint64_t key) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = key;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &ev) != 0) Fatal("epoll_ctl mod");
  }

  void Unregister(int fd, uint64_t key) {
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    std::lock_guard lock(registry_mu_);
    registry_.erase(key);
  }

 private:
  static constexpr uint64_t kWakeKey = 1;
  static constexpr uint64_t kTimerKey = 2;  // socket keys come after

  void Wake() {
    const uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);  // a full counter is a pending wake-up already
  }

  // REQUIRES: mu held. Arms the timer descriptor for `deadline` (none: disarmed).
  void SetTimer(Clock::time_point deadline) {
    timer_set_for_ = deadline;
    itimerspec when{};
    if (deadline != Clock::time_point::max()) {
      // steady_clock is CLOCK_MONOTONIC; an all-zero time would disarm instead.
      const auto ns = std::max<int64_t>(
          1, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch())
                 .count());
      when.it_value = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
    if (timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr) != 0) Fatal("timerfd");
  }

  // REQUIRES: mu held.
  void FireTimers() {
    const auto now = Clock::now();
    while (!timers.empty() && timers.begin()->first <= now) {
      WaitCore* w = timers.begin()->second;
      timers.erase(timers.begin());
      w->has_timer = false;
      auto& armed = w->event->armed;
      armed.erase(std::find(armed.begin(), armed.end(), w));
      w->event = nullptr;
      Dispatch(*w->member, kWaitTimeout);
    }
    SetTimer(timers.empty() ? Clock::time_point::max() : timers.begin()->first);
  }

  void Handle(const epoll_event& ev) {
    uint64_t count;
    switch (ev.data.u64) {
      case kWakeKey:
        (void)!read(wake_fd_, &count, sizeof count);  // the caller looks at the queue next
        return;
      case kTimerKey: {
        (void)!read(timer_fd_, &count, sizeof count);
        std::lock_guard lock(mu);
        FireTimers();
        return;
      }
    }
    std::shared_ptr<SocketCore> socket;
    {
      std::lock_guard registry_lock(registry_mu_);
      auto it = registry_.find(ev.data.u64);
      if (it != registry_.end()) socket = it->second;
    }
    if (socket) posix::OnSocketReady(*socket, ev.events);
  }

  void Run(Item& item) {
    std::unique_lock lock(mu);
    const std::shared_ptr<WaitCore>& w = item.first;
    if (w->closed) return;  // cancelled before it started
    ++w->running;
    ++callbacks;
    current = w.get();
    lock.unlock();
    w->callback(w->context, item.second);
    lock.lock();
    current = nullptr;
    if (--w->running == 0) idle_cv.notify_all();
  }

  void Work() {
    std::vector<Item> taken;
    for (;;) {
      Item item;
      {
        std::lock_guard lock(mu);
        if (!queue.empty()) {
          item = std::move(queue.front());
          queue.pop_front();
          // One read of the wake-up descriptor may stand for many queued callbacks: pass the
          // rest on, so that another worker takes the next one.
          if (!queue.empty()) Wake();
        }
      }
      if (item.first) {
        Run(item);
        continue;
      }
      epoll_event ev;
      const int n = epoll_wait(epoll_fd_, &ev, 1, -1);
      if (n < 0 && errno != EINTR) Fatal("epoll_wait");
      if (n != 1) continue;
      t_taken = &taken;
      Handle(ev);
      t_taken = nullptr;
      if (taken.empty()) continue;
      if (taken.size() > 1) {  // more than one callback: the others go to other workers
        std::lock_guard lock(mu);
        for (size_t i = 1; i < taken.size(); ++i) queue.push_back(std::move(taken[i]));
        Wake();
      }
      Item first = std::move(taken.front());
      taken.clear();
      Run(first);
    }
  }

  Clock::time_point timer_set_for_ = Clock::time_point::max();
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int timer_fd_ = -1;
  std::mutex registry_mu_;
  std::unordered_map<uint64_t, std::shared_ptr<SocketCore>> registry_;
  uint64_t last_key_ = kTimerKey;

 public:
  static thread_local WaitCore* current;  // the wait whose callback this thread runs
};

thread_local WaitCore* Pool::current = nullptr;

// Started on first use and never destroyed: its threads run until the process exits.
Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

}  // namespace

std::mutex& posix::PoolMutex() { return ThePool().mu; }

uint64_t posix::ReactorAdd(std::shared_ptr<SocketCore> socket, int fd) {
  return ThePool().Register(std::move(socket), fd);
}

void posix::ReactorRefresh(int fd, uint64_t key) { ThePool().Refresh(fd, key); }

void posix::ReactorRemove(int fd, uint64_t key) { ThePool().Unregister(fd, key); }

// ---- Event ----

Event::Event() : core_(std::make_unique<EventCore>()) {}

Event::~Event() {
  Pool& p = ThePool();
  std::lock_guard lock(p.mu);
  // An arming that outlives its event is a caller's fault; forget it rather than dangle.
  while (!core_->armed.empty()) p.Disarm(core_->armed.front());
}

void Event::Set() {
  Pool& p = ThePool();
  std::lock_guard lock(p.mu);
  EventCore& e = *core_;
  if (!e.armed.empty()) {
    WaitCore* w = e.armed.front();
    p.Disarm(w);
    p.Dispatch(*w->member, kWaitSignalled);
    return;
  }
  e.signalled = true;
  if (e.thread_waiters > 0) e.cv.notify_one();
}

bool Event::Wait(uint32_t timeout_ms) {
  Pool& p = ThePool();
  std::unique_lock lock(p.mu);
  EventCore& e = *core_;
  if (!e.signalled && timeout_ms != 0) {
    ++e.thread_waiters;
    e.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return e.signalled; });
    --e.thread_waiters;
  }
  const bool taken = e.signalled;
  e.signalled = false;
  return taken;
}

// ---- CleanupGroup and Wait ----

namespace {

// REQUIRES: p.mu held through `lock`.
void CloseLocked(Pool& p, std::unique_lock<std::mutex>& lock, WaitCore* w) {
  if (!w->closed) {
    w->closed = true;
    p.Disarm(w);
  }
  const int own = Pool::current == w ? 1 : 0;
  p.idle_cv.wait(lock, [&] { return w->running - own == 0; });
  if (w->group != nullptr) {
    std::shared_ptr<WaitCore> keep = *w->member;  // the list entry may hold the last reference
    w->group->members.erase(w->member);
    w->group = nullptr;
  }
}

}  // namespace

CleanupGroup::CleanupGroup() : core_(std::make_unique<GroupCore>()) {}

CleanupGroup::~CleanupGroup() { CloseMembers(); }

void CleanupGroup::CloseMembers() {
  Pool& p = ThePool();
  std::unique_lock lock(p.mu);
  while (!core_->members.empty()) {
    std::shared_ptr<WaitCore> w = core_->members.front();
    CloseLocked(p, lock, w.get());
  }
}

Wait::Wait(CleanupGroup& group, Callback callback, void* context)
    : core_(std::make_shared<WaitCore>()) {
  core_->callback = callback;
  core_->context = context;
  Pool& p = ThePool();
  std::lock_guard lock(p.mu);
  core_->group = &group.core();
  core_->member = core_->group->members.insert(core_->group->members.end(), core_);
}

Wait::~Wait() { Close(); }

Wait::Wait(Wait&& o) noexcept = default;

Wait& Wait::operator=(Wait&& o) noexcept {
  if (this != &o) {
    Close();
    core_ = std::move(o.core_);
  }
  return *this;
}

void Wait::Arm(Event& event, std::optional<std::chrono::nanoseconds> timeout) {
  if (!core_) return;
  Pool& p = ThePool();
  std::lock_guard lock(p.mu);
  WaitCore* w = core_.get();
  if (w->closed) return;
  p.Disarm(w);
  EventCore& e = event.core();
  if (e.signalled) {
    e.signalled = false;
    p.Dispatch(core_, kWaitSignalled);
  } else if (timeout && timeout->count() <= 0) {
    p.Dispatch(core_, kWaitTimeout);
  } else {
    w->event = &e;
    e.armed.push_back(w);
    if (timeout) {
      const auto now = Clock::now();
      // Clamp far deadlines so that the addition cannot overflow the clock.
      const auto limit = std::chrono::duration_cast<std::chrono::nanoseconds>(
          Clock::time_point::max() - now) / 2;
      p.AddTimer(w, now + std::min(*timeout, limit));
    }
  }
}

void Wait::Close() {
  if (!core_) return;
  Pool& p = ThePool();
  std::shared_ptr<WaitCore> w = std::move(core_);
  std::unique_lock lock(p.mu);
  CloseLocked(p, lock, w.get());
}

unsigned PoolThreadCount() { return ThePool().threads_; }

uint64_t PoolCallbackCount() {
  Pool& p = ThePool();
  std::lock_guard lock(p.mu);
  return p.callbacks;
}

}  // namespace platform
