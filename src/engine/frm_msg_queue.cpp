#include "engine/frm_msg_queue.h"

#include <optional>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "config/report_sites.h"
#include "platform/core/system_error.h"
#include "store/list_lock.h"

namespace dovel::engine {

namespace sites = config::sites;
using config::Raise;
using store::clsMessage;
using store::clsMessages;

namespace {

constexpr std::u16string_view kKeepAlive = u"Keep Alive";
// Touching a list head or Parent that the engine no longer holds.

template <class T>
T& Held(const std::unique_ptr<T>& object) {
  if (object == nullptr) Raise(RuntimeError::kObjectNotSet);
  return *object;
}

}  // namespace

std::shared_ptr<frmMsgQueue> frmMsgQueue::New(const EngineServices& services) {
  std::shared_ptr<frmMsgQueue> engine(new frmMsgQueue(services));
  engine->CreateTimers();
  return engine;
}

void frmMsgQueue::CreateTimers() {
  platform::MessageLoop& loop = services_.loop;
  // The timers call back through a weak reference: a timer object that a
  // client still holds never reaches an engine that is gone.
  auto make = [&](void (frmMsgQueue::*procedure)()) -> std::shared_ptr<platform::Timer> {
    return loop.CreateTimer([weak = weak_from_this(), procedure] {
      if (const auto engine = weak.lock()) ((*engine).*procedure)();
    });
  };
  tmrHeartBeat_ = make(&frmMsgQueue::tmrHeartBeat_Timer);
  tmrDiagRefresh_ = make(&frmMsgQueue::tmrDiagRefresh_Timer);
  tmrTimeOut_ = make(&frmMsgQueue::tmrTimeOut_Timer);
  tmrWorker_ = make(&frmMsgQueue::tmrWorker_Timer);
}

frmMsgQueue::~frmMsgQueue() = default;

void frmMsgQueue::Form_Load() {
  config::Reporting(sites::kFormLoad, [&] {
    m_oWorkQueue = std::make_unique<clsMessages>();
    m_oCurrentMsg = std::make_unique<clsMessages>();
    m_oLastSentMsg = std::make_unique<clsMessages>();
    // All three identifiers exist before the first block does.
    if (const std::int32_t r = GetGUID(WorkQueueGUID); r != 0) Raise(SystemStatus(r));
    if (const std::int32_t r = GetGUID(CurrentMsgGUID); r != 0) Raise(SystemStatus(r));
    if (const std::int32_t r = GetGUID(LastSentMsgGUID); r != 0) Raise(SystemStatus(r));
    if (const std::int32_t r = m_oWorkQueue->Create(WorkQueueGUID); r != 0) Raise(SystemStatus(r));
    if (const std::int32_t r = m_oCurrentMsg->Create(CurrentMsgGUID); r != 0) Raise(SystemStatus(r));
    if (const std::int32_t r = m_oLastSentMsg->Create(LastSentMsgGUID); r != 0) Raise(SystemStatus(r));
    tmrWorker_->SetInterval(services_.standard_poll_rate);
    tmrWorker_->SetEnabled(true);
  });
}

void frmMsgQueue::Form_Unload() {
  // A client's reference may be the last thing keeping this engine alive,
  // and clearing Parent may release that client object.
  const std::shared_ptr<frmMsgQueue> self = weak_from_this().lock();
  std::shared_ptr<QueueEvents> parent;
  config::Ignoring([&] { m_bUnloading = true; },
                   [&] { tmrTimeOut_->SetEnabled(false); },
                   [&] { tmrWorker_->SetEnabled(false); },
                   [&] { tmrHeartBeat_->SetEnabled(false); },
                   [&] { tmrDiagRefresh_->SetEnabled(false); },
                   [&] { m_oWorkQueue.reset(); },
                   [&] { m_oCurrentMsg.reset(); },
                   [&] { m_oLastSentMsg.reset(); },
                   [&] { parent = std::move(Parent); });
}

void frmMsgQueue::InactivityComplete() {
  config::Reporting({sites::kInactivityComplete, WorkQueueGUID}, [&] {
    m_bInactive = false;
    m_sngInactivityDeadline.Restart(InactivityDeadline::Now(services_.clock), m_iInactivityTimeout);
  });
}

std::int32_t frmMsgQueue::GetGUID(std::u16string& sGUID) {
  return config::ReportingResult(sites::kGetGuid, [&] {
    std::int32_t result = ErrorNumber(RuntimeError::kGuidSourceFailed);
    platform::Guid guid;
    if (!services_.guids.CreateGuid(guid)) result = GuidString(guid, sGUID);
    return result;
  });
}

std::int32_t frmMsgQueue::GuidString(const platform::Guid& guid, std::u16string& sGUID) {
  return config::ReportingResult(sites::kGuidString, [&] {
    char16_t buffer[39] = {};
    platform::StringFromGuid2(guid, buffer, 39);
    sGUID.assign(buffer, 38);
    return 0;
  });
}

void frmMsgQueue::tmrWorker_Timer() {
  tmrWorker_->SetEnabled(false);
  if (Parent == nullptr) return;  // ends silently, the worker stays disabled

  const std::shared_ptr<frmMsgQueue> self = shared_from_this();
  std::shared_ptr<clsMessage> msg, cur, last;
  config::Reporting(
      {sites::kWorkerTimer, WorkQueueGUID},
      [&] {
        if (!m_bInactive && !m_bDisconnecting && !m_bUnattended && !m_bPanelEventWarning &&
            m_iInactivityTimeout != 0) {
          SuperviseInactivity(last);
        }
        Dispatch(msg, cur);
      },
      [&] {
        msg.reset();
        cur.reset();
        last.reset();
        // A handler may have stopped the engine during the tick: then the
        // worker is not re-armed and the stop runs again instead.
        if (!m_bUnloading) {
          tmrWorker_->SetEnabled(true);
        } else {
          Form_Unload();
        }
      });
}

void frmMsgQueue::SuperviseInactivity(std::shared_ptr<clsMessage>& last) {
  last = Held(m_oLastSentMsg).FirstMsg();
  if (last == nullptr) return;
  if (last->Auto()) {
    if (m_sngInactivityDeadline.HasPassed(InactivityDeadline::Now(services_.clock))) {
      m_bInactive = true;
      const std::shared_ptr<QueueEvents> parent = Parent;
      if (parent == nullptr) Raise(RuntimeError::kObjectNotSet);
      parent->RaiseInactiveSession();
    }
  } else if (std::u16string guid = last->szGUID(); guid != sLastActivityGUID) {
    sLastActivityGUID = std::move(guid);
    m_sngInactivityDeadline.Restart(InactivityDeadline::Now(services_.clock), m_iInactivityTimeout);
  }
  last.reset();
}

namespace {

// Failures that say a link can never be followed: its block is gone (its
// last holder, a killed client perhaps, took it along), belongs to another
// user, or the link is no identifier at all (a zero-filled message). Others
// (out of descriptors, shared memory full, a busy gate) may pass.
bool IsDeadLink(std::int32_t failure) {
  switch (failure) {
    case platform::win32_error::kFileNotFound:
    case platform::win32_error::kAccessDenied:
    case platform::win32_error::kInvalidName:
    case ErrorNumber(RuntimeError::kBadIdentifierLength):
      return true;
    default:
      return false;
  }
}

// The list's first message. A head that links to a message that can never
// be loaded is reported once (by FirstMsg) and then emptied: nothing behind
// that link can be reached any more, and left in place it would stop the
// list for good. The caller holds the list's lock where others write it.
std::shared_ptr<clsMessage> FirstUsable(clsMessages& list) {
  std::int32_t failure = 0;
  std::shared_ptr<clsMessage> first = list.FirstMsg(failure);
  if (first == nullptr && IsDeadLink(failure)) list.FirstMsgGUID(list.ListGUID());
  return first;
}

}  // namespace

void frmMsgQueue::Dispatch(std::shared_ptr<clsMessage>& msg, std::shared_ptr<clsMessage>& cur) {
  clsMessages& work_queue = Held(m_oWorkQueue);
  clsMessages& current = Held(m_oCurrentMsg);

  // A client linking a message into the work queue holds this lock while it
  // writes; the head is read, and the message moved, only under it, so a
  // half-written link is never read and a new link is never cut off with
  // the old head. An idle queue, the common case, costs no lock: its head
  // is compared in place. A lock that stays taken costs this tick its
  // dispatch, never the loop its progress; any other failure to take it is
  // reported, and nothing is dispatched without it.
  std::optional<store::ListLock> work_lock;
  if (!work_queue.LooksEmpty()) {
    work_lock.emplace(work_queue, store::ListLock::kTickTimeoutMs);
    if (work_lock->status() == SystemError::kWaitTimeout) return;
    if (!work_lock->held()) Raise(work_lock->status());
    msg = FirstUsable(work_queue);
  }
  // Only this engine fills the current list, and only while it is empty,
  // so its head needs no lock.
  cur = FirstUsable(current);
  if (msg == nullptr || cur != nullptr) return;
  if (m_bPanelEventWarning && msg->Name() != kKeepAlive) return;

  // Four identifiers move the message; its block is never copied.
  work_queue.FirstMsgGUID(msg->NextMsgGUID());
  msg->NextMsgGUID(CurrentMsgGUID);
  msg->HeadGUID(CurrentMsgGUID);
  current.FirstMsgGUID(msg->szGUID());
  work_lock.reset();

  const std::shared_ptr<QueueEvents> parent = Parent;
  if (parent == nullptr) Raise(RuntimeError::kObjectNotSet);
  parent->RaiseSendData();
}

void frmMsgQueue::tmrTimeOut_Timer() {
  config::Reporting({sites::kTimeOutTimer, WorkQueueGUID}, [&] {
    tmrTimeOut_->SetEnabled(false);
    const std::shared_ptr<QueueEvents> parent = Parent;
    if (parent != nullptr && !m_bDisconnecting) parent->RaiseTimeout();
  });
}

void frmMsgQueue::tmrHeartBeat_Timer() {
  std::shared_ptr<clsMessage> head;
  config::Reporting(
      {sites::kHeartBeatTimer, WorkQueueGUID},
      [&] {
        const std::shared_ptr<QueueEvents> parent = Parent;
        if (parent == nullptr || m_bDisconnecting || m_bUnattended) return;
        head = Held(m_oWorkQueue).FirstMsg();
        // No heartbeat while a keep-alive already waits at the head.
        if (head == nullptr || head->Name() != kKeepAlive) parent->RaiseHeartbeat();
      },
      [&] { head.reset(); });
}

void frmMsgQueue::tmrDiagRefresh_Timer() {
  config::Reporting({sites::kDiagRefreshTimer, WorkQueueGUID}, [&] {
    const std::shared_ptr<QueueEvents> parent = Parent;
    if (parent != nullptr && !m_bDisconnecting && !m_bUnattended && !m_bPanelEventWarning) {
      parent->RaiseDiagRefresh();
    }
  });
}

}  // namespace dovel::engine
