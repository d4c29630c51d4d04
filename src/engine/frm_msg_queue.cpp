#include "engine/frm_msg_queue.h"

#include <optional>

#include "config/error_styles.h"
#include "config/report_sites.h"
#include "platform/core/error_codes.h"
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

void RaiseFailure(const std::error_code& status) {
  if (status) Raise(status);
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
    store::Identifier work_queue, current, last_sent;
    RaiseFailure(GetGUID(work_queue));
    WorkQueueGUID = work_queue.str();
    RaiseFailure(GetGUID(current));
    CurrentMsgGUID = current.str();
    RaiseFailure(GetGUID(last_sent));
    LastSentMsgGUID = last_sent.str();
    // A block that exists already belongs to someone else: that fails too.
    RaiseFailure(m_oWorkQueue->Create(work_queue));
    RaiseFailure(m_oCurrentMsg->Create(current));
    RaiseFailure(m_oLastSentMsg->Create(last_sent));
    tmrWorker_->SetInterval(services_.standard_poll_rate);
    tmrWorker_->SetEnabled(true);
  });
}

void frmMsgQueue::Form_Unload() {
  // A client's reference may be the last thing keeping this engine alive,
  // and clearing Parent may release that client object.
  const std::shared_ptr<frmMsgQueue> self = weak_from_this().lock();
  std::shared_ptr<QueueEvents> parent;
  config::Ignoring([&] { m_bUnloading = true; }, [&] { tmrTimeOut_->SetEnabled(false); },
                   [&] { tmrWorker_->SetEnabled(false); }, [&] { tmrHeartBeat_->SetEnabled(false); },
                   [&] { tmrDiagRefresh_->SetEnabled(false); }, [&] { m_oWorkQueue.reset(); },
                   [&] { m_oCurrentMsg.reset(); }, [&] { m_oLastSentMsg.reset(); },
                   [&] { parent = std::move(Parent); });
}

void frmMsgQueue::InactivityComplete() {
  config::Reporting({sites::kInactivityComplete, WorkQueueGUID}, [&] {
    m_bInactive = false;
    m_sngInactivityDeadline.Restart(InactivityDeadline::Now(services_.clock), m_iInactivityTimeout);
  });
}

std::error_code frmMsgQueue::GetGUID(store::Identifier& id) {
  return config::ReportingStatus(sites::kGetGuid, [&]() -> std::error_code {
    platform::Guid guid;
    // GetGUID's own result when no GUID came, whatever the source said.
    if (services_.guids.CreateGuid(guid)) return RuntimeError::kGuidSourceFailed;
    return GuidString(guid, id);
  });
}

std::error_code frmMsgQueue::GuidString(const platform::Guid& guid, store::Identifier& id) {
  return config::ReportingStatus(sites::kGuidString, [&] {
    id = store::Identifier::From(guid);
    return std::error_code();
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
        if (!m_bInactive && !m_bDisconnecting && !m_bUnattended && !m_bPanelEventWarning && m_iInactivityTimeout != 0) {
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
  } else if (last->MessageId() != sLastActivityGUID) {
    sLastActivityGUID = last->MessageId();
    m_sngInactivityDeadline.Restart(InactivityDeadline::Now(services_.clock), m_iInactivityTimeout);
  }
  last.reset();
}

namespace {

// Failures that say a link can never be followed: its block is gone (its
// last holder, a killed client perhaps, took it along), belongs to another
// user, or the link is no identifier at all (a zero-filled message). Others
// (out of descriptors, shared memory full, a busy gate) may pass.
bool IsDeadLink(const std::error_code& failure) {
  return failure == SystemError::kFileNotFound || failure == SystemError::kAccessDenied ||
         failure == SystemError::kInvalidName || failure == RuntimeError::kBadIdentifierLength;
}

// The list's first message. A head that links to a message that can never
// be loaded is reported once (by FirstMsg) and then emptied: nothing behind
// that link can be reached any more, and left in place it would stop the
// list for good. The caller holds the list's lock where others write it.
std::shared_ptr<clsMessage> FirstUsable(clsMessages& list) {
  std::error_code failure;
  std::shared_ptr<clsMessage> first = list.FirstMsg(failure);
  if (first == nullptr && IsDeadLink(failure)) list.FirstMsgGUID(list.ListId());
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

  // Four identifiers move the message; its block is never copied. A next
  // link that is no identifier leads nowhere, as a dead link does: the work
  // queue ends with this message, and the link is reported once the
  // message has gone out.
  store::Identifier next;
  const std::error_code unusable_next = store::Identifier::Parse(msg->NextMsgGUID(), next);
  work_queue.FirstMsgGUID(unusable_next ? work_queue.ListId() : next);
  msg->NextMsgGUID(current.ListId());
  msg->HeadGUID(current.ListId());
  current.FirstMsgGUID(msg->MessageId());
  work_lock.reset();

  const std::shared_ptr<QueueEvents> parent = Parent;
  if (parent == nullptr) Raise(RuntimeError::kObjectNotSet);
  parent->RaiseSendData();
  RaiseFailure(unusable_next);
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
