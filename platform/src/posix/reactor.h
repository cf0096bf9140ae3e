// The pool's internals shared by the event, wait and socket code of the POSIX backend.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace platform {

struct SocketCore;

namespace posix {

// Guards every event, wait, timer and the work queue of the process. Socket locks may be held
// while it is taken, never the other way round.
std::mutex& PoolMutex();

// Adds the socket's descriptor to the reactor's epoll set (edge-triggered, in, out, peer close);
// the reactor thread then calls OnSocketReady with the epoll events. Returns the registration
// key for ReactorRemove.
uint64_t ReactorAdd(std::shared_ptr<SocketCore> socket, int fd);
// Re-reports the socket's current readiness (after its bindings changed).
void ReactorRefresh(int fd, uint64_t key);
void ReactorRemove(int fd, uint64_t key);

// Defined by the socket code; runs on the reactor thread.
void OnSocketReady(SocketCore& socket, uint32_t epoll_events);

}  // namespace posix
}  // namespace platform
