#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "com/dispatch_ids.h"
#include "engine/frm_msg_queue.h"
#include "engine/queue_events.h"
#include "platform/core/error_codes.h"

namespace dovel::com {

// The queue object: the only way in for a client. A thin facade over its own
// engine; every member returns a COM status (HResult) and, apart from a call
// from the wrong thread (kWrongThread: refused, never run, because the engine
// and its lists are not locked), always succeeds: errors inside are ignored,
// as a client of an automation server expects.
//
// Lifetime: the engine holds its Parent (this object) strongly, so a client
// must call UnloadQueue before it lets go; an object released without it
// stays alive, timers running, until the process ends. After UnloadQueue the
// members touch only the stopped engine: switches are stored, identifiers
// and timers are still returned, nothing restarts, no event is raised.
class clsMsgQueue final : public engine::QueueEvents, public std::enable_shared_from_this<clsMsgQueue> {
 public:
  using Sink = std::function<void(QueueEvent)>;

  // Class_Initialize: settings, a new engine, its Parent, its start.
  // Creation succeeds in any case.
  static std::shared_ptr<clsMsgQueue> New();
  // Class_Terminate.
  ~clsMsgQueue() override;

  [[nodiscard]] std::error_code put_Disconnecting(bool bVal);
  [[nodiscard]] std::error_code put_InactivityTimeout(std::int16_t iVal);
  [[nodiscard]] std::error_code put_PanelEventWarning(bool bVal);
  [[nodiscard]] std::error_code put_Unattended(bool bVal);
  [[nodiscard]] std::error_code InactivityComplete();
  [[nodiscard]] std::error_code get_DiagRefreshTimer(std::shared_ptr<platform::Timer>& timer);
  [[nodiscard]] std::error_code get_HeartbeatTimer(std::shared_ptr<platform::Timer>& timer);
  [[nodiscard]] std::error_code get_TimeoutTimer(std::shared_ptr<platform::Timer>& timer);
  [[nodiscard]] std::error_code get_WorkerTimer(std::shared_ptr<platform::Timer>& timer);
  [[nodiscard]] std::error_code get_WorkQueueGUID(std::u16string& guid);
  [[nodiscard]] std::error_code get_CurrentMsgGUID(std::u16string& guid);
  [[nodiscard]] std::error_code get_LastSentMsgGUID(std::u16string& guid);
  [[nodiscard]] std::error_code UnloadQueue();

  // Connection point: events go to every connected sink, synchronously, in
  // the order they connected. A handler may disconnect, call back in or
  // unload; the sinks connected when an event starts all receive it.
  [[nodiscard]] std::error_code Advise(Sink sink, std::uint32_t& cookie);
  [[nodiscard]] std::error_code Unadvise(std::uint32_t cookie);

  // The engine's raisers (not part of the client interface).
  void RaiseSendData() override { Raise(QueueEvent::SendData); }
  void RaiseTimeout() override { Raise(QueueEvent::Timeout); }
  void RaiseInactiveSession() override { Raise(QueueEvent::InactiveSession); }
  void RaiseHeartbeat() override { Raise(QueueEvent::Heartbeat); }
  void RaiseDiagRefresh() override { Raise(QueueEvent::DiagRefresh); }

  // The engine, for tests and the host.
  const std::shared_ptr<engine::frmMsgQueue>& Engine() const { return m_frmQueue; }

 private:
  clsMsgQueue() = default;
  void Class_Initialize();
  void Raise(QueueEvent event);
  bool OnOwnThread() const;
  template <class Action>
  [[nodiscard]] std::error_code Forward(Action&& action);
  [[nodiscard]] std::error_code GetTimer(std::shared_ptr<platform::Timer>& out,
                                         const std::shared_ptr<platform::Timer>& (engine::frmMsgQueue::*timer)() const);
  [[nodiscard]] std::error_code GetGuid(std::u16string& out, std::u16string engine::frmMsgQueue::*member);

  std::shared_ptr<engine::frmMsgQueue> m_frmQueue;
  platform::MessageLoop* loop_ = nullptr;
  // The count of live queue objects on the thread that made this one.
  std::size_t* thread_objects_ = nullptr;
  std::map<std::uint32_t, std::shared_ptr<Sink>> sinks_;
  std::uint32_t next_cookie_ = 1;
};

}  // namespace dovel::com
