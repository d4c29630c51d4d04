#include "com/cls_msg_queue.h"

#include <vector>

#include "config/error_styles.h"
#include "config/mod_globals.h"
#include "config/report_sites.h"

namespace dovel::com {

namespace {
// Queue objects alive on this thread: the thread's error log goes with the
// last of them, not with the first to end.
thread_local std::size_t t_live_queue_objects = 0;
}  // namespace

std::shared_ptr<clsMsgQueue> clsMsgQueue::New() {
  std::shared_ptr<clsMsgQueue> queue(new clsMsgQueue());
  queue->Class_Initialize();
  return queue;
}

void clsMsgQueue::Class_Initialize() {
  thread_objects_ = &t_live_queue_objects;
  ++*thread_objects_;
  config::Reporting(config::sites::kQueueClassInitialize, [&] {
    InitApplicationVariables();
    // A thread whose loop cannot be made (out of descriptors) gets an inert
    // object and one report of the failed start; creation itself succeeds.
    // The one place the settings and the thread's services reach an engine.
    platform::MessageLoop& loop = platform::CurrentMessageLoop();
    loop_ = &loop;
    m_frmQueue =
        engine::frmMsgQueue::New({loop, platform::CurrentClock(), platform::CurrentGuidSource(), g_iStandardPollRate});
    m_frmQueue->Parent = shared_from_this();
    m_frmQueue->Form_Load();
  });
}

clsMsgQueue::~clsMsgQueue() {
  config::Ignoring(
      [&] {
        if (m_frmQueue != nullptr) m_frmQueue->Form_Unload();
      },
      [&] { m_frmQueue.reset(); },
      [&] {
        // Counted where it was made; an object ending on another
        // thread leaves that thread's log alone.
        if (thread_objects_ == &t_live_queue_objects && --t_live_queue_objects == 0) {
          g_oErrorObject.reset();
        }
      });
}

bool clsMsgQueue::OnOwnThread() const { return loop_ == nullptr || loop_->IsOwnThread(); }

template <class Action>
std::error_code clsMsgQueue::Forward(Action&& action) {
  if (!OnOwnThread()) return HResult::kWrongThread;
  // An object whose engine was never created is inert.
  config::Ignoring([&] {
    if (m_frmQueue != nullptr) action(*m_frmQueue);
  });
  return {};
}

std::error_code clsMsgQueue::put_Disconnecting(bool bVal) {
  return Forward([&](engine::frmMsgQueue& e) { e.Disconnecting(bVal); });
}

std::error_code clsMsgQueue::put_InactivityTimeout(std::int16_t iVal) {
  return Forward([&](engine::frmMsgQueue& e) { e.InactivityTimeout(iVal); });
}

std::error_code clsMsgQueue::put_PanelEventWarning(bool bVal) {
  return Forward([&](engine::frmMsgQueue& e) { e.PanelEventWarning(bVal); });
}

std::error_code clsMsgQueue::put_Unattended(bool bVal) {
  return Forward([&](engine::frmMsgQueue& e) { e.Unattended(bVal); });
}

std::error_code clsMsgQueue::InactivityComplete() {
  return Forward([&](engine::frmMsgQueue& e) { e.InactivityComplete(); });
}

std::error_code clsMsgQueue::GetTimer(std::shared_ptr<platform::Timer>& out,
                                      const std::shared_ptr<platform::Timer>& (engine::frmMsgQueue::*timer)() const) {
  out.reset();
  return Forward([&](engine::frmMsgQueue& e) { out = (e.*timer)(); });
}

std::error_code clsMsgQueue::get_DiagRefreshTimer(std::shared_ptr<platform::Timer>& timer) {
  return GetTimer(timer, &engine::frmMsgQueue::tmrDiagRefresh);
}

std::error_code clsMsgQueue::get_HeartbeatTimer(std::shared_ptr<platform::Timer>& timer) {
  return GetTimer(timer, &engine::frmMsgQueue::tmrHeartBeat);
}

std::error_code clsMsgQueue::get_TimeoutTimer(std::shared_ptr<platform::Timer>& timer) {
  return GetTimer(timer, &engine::frmMsgQueue::tmrTimeOut);
}

std::error_code clsMsgQueue::get_WorkerTimer(std::shared_ptr<platform::Timer>& timer) {
  return GetTimer(timer, &engine::frmMsgQueue::tmrWorker);
}

std::error_code clsMsgQueue::GetGuid(std::u16string& out, std::u16string engine::frmMsgQueue::*member) {
  out.clear();
  return Forward([&](engine::frmMsgQueue& e) { out = e.*member; });
}

std::error_code clsMsgQueue::get_WorkQueueGUID(std::u16string& guid) {
  return GetGuid(guid, &engine::frmMsgQueue::WorkQueueGUID);
}

std::error_code clsMsgQueue::get_CurrentMsgGUID(std::u16string& guid) {
  return GetGuid(guid, &engine::frmMsgQueue::CurrentMsgGUID);
}

std::error_code clsMsgQueue::get_LastSentMsgGUID(std::u16string& guid) {
  return GetGuid(guid, &engine::frmMsgQueue::LastSentMsgGUID);
}

std::error_code clsMsgQueue::UnloadQueue() {
  return Forward([&](engine::frmMsgQueue& e) { e.Form_Unload(); });
}

std::error_code clsMsgQueue::Advise(Sink sink, std::uint32_t& cookie) {
  if (!OnOwnThread()) return HResult::kWrongThread;
  cookie = next_cookie_++;
  sinks_.emplace(cookie, std::make_shared<Sink>(std::move(sink)));
  return {};
}

std::error_code clsMsgQueue::Unadvise(std::uint32_t cookie) {
  if (!OnOwnThread()) return HResult::kWrongThread;
  return sinks_.erase(cookie) == 1 ? std::error_code{} : std::error_code(HResult::kNoConnection);
}

void clsMsgQueue::Raise(QueueEvent event) {
  // A snapshot: handlers may connect, disconnect or release this object.
  const std::shared_ptr<clsMsgQueue> self = shared_from_this();
  std::vector<std::shared_ptr<Sink>> sinks;
  sinks.reserve(sinks_.size());
  for (const auto& [cookie, sink] : sinks_) sinks.push_back(sink);
  for (const auto& sink : sinks) {
    // A failing client handler is the client's business, not the tick's.
    config::Ignoring([&] { (*sink)(event); });
  }
}

}  // namespace dovel::com
