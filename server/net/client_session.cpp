#include "net/client_session.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <new>

#include "host/log.h"
#include "host/settings.h"
#include "net/server.h"
#include "protocol/session_error.h"
#include "store/macro_group.h"

CMVS5ClientSession::CMVS5ClientSession(CMVServer5& owner, uint32_t number)
    : session_number(number), server(owner) {}

std::unique_ptr<CMVS5ClientSession> CMVS5ClientSession::CreateSession(CMVServer5& server,
                                                                      platform::Socket& socket) {
  std::unique_ptr<CMVS5ClientSession> session(
      new CMVS5ClientSession(server, ++server.last_session_number));
  if (!session->Attach(socket)) return nullptr;
  return session;
}

bool CMVS5ClientSession::Attach(platform::Socket& socket) {
  // Creating an event cannot fail on this platform; a wait can only fail by running out of
  // memory, which throws before anything is half made.
  wait_ = platform::Wait(*server.cleanup_group, &CMVS5ClientSession::OnSessionWait, this);
  if (!wait_) {
    WriteLog("! cannot create thread pool wait object");
    return false;
  }
  socket_ = std::move(socket);
  socket_.EventSelect(&event_, platform::kRead | platform::kWrite | platform::kClose);
  WriteLog("* successfully created");
  return true;
}

CMVS5ClientSession::~CMVS5ClientSession() {
  if (flags.load() & kHasLocked) {
    CMVS5Data& data = server.settings.data;
    platform::ScopedLock guard(data.Lock(), platform::LockMode::Exclusive);
    for (auto& group : data.groups()) group->Unlock(this, true);
  }
  sent_payload_.reset();
  request_payload_.reset();
  wait_.Close();
  socket_.Close();
  WriteLog("* session destroyed");
}

void CMVS5ClientSession::ArmWait() {
  // The timeout is relative and in 100-ns units, negative by convention.
  wait_.Arm(event_, std::chrono::nanoseconds(-server.settings.network_timeout * 100));
}

void CMVS5ClientSession::OnSessionWait(void* context, uint32_t wait_result) {
  auto* session = static_cast<CMVS5ClientSession*>(context);
  try {
    if (session->TransferStep(wait_result)) session->ArmWait();
    return;
  } catch (const MessageText& failure) {
    session->WriteLog("%s", failure.text.c_str());
  } catch (const SystemFailure& failure) {
    session->WriteLog("! exception %i", failure.code);
  } catch (const std::bad_alloc&) {
    session->WriteLog("! exception %i", ENOMEM);
  } catch (...) {
    session->WriteLog("! exception %i", errno);
  }
  session->ScheduleToDelete();
}

void CMVS5ClientSession::ScheduleToDelete() {
  if (flags.load() & kScheduledForDeletion) return;
  socket_.EventSelect(nullptr, 0);
  platform::ScopedLock guard(server.session_list_lock, platform::LockMode::Exclusive);
  auto& active = server.active_sessions;
  auto it = std::find_if(active.begin(), active.end(),
                         [this](const auto& s) { return s.get() == this; });
  std::unique_ptr<CMVS5ClientSession> self;
  if (it != active.end()) {
    self = std::move(*it);
    active.erase(it);
  } else {
    WriteLog("! ScheduleToDelete, session was not found in the session array");
  }
  flags.fetch_or(kScheduledForDeletion);
  // A session missing from the active list is owned by nobody; the retired list takes it.
  server.retired_sessions.push_back(self ? std::move(self)
                                         : std::unique_ptr<CMVS5ClientSession>(this));
}

uint32_t CMVS5ClientSession::log_handle() const {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

void CMVS5ClientSession::WriteLog(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string message = FormatLogText(format, args);
  va_end(args);
  if (!message.empty() && (message[0] == '!' || message[0] == '*')) {
    server.settings.WriteLog("%c CMVS5ClientSession 0x%08X,%s", message[0], log_handle(),
                             message.c_str() + 1);
  } else {
    server.settings.WriteLog("CMVS5ClientSession 0x%08X, %s", log_handle(), message.c_str());
  }
}
