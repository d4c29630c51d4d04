#include "com/dbus/queue_object.h"

#include "com/dbus/bus_errors.h"
#include "com/dbus/caller.h"
#include "platform/automation/text.h"

namespace dovel::com::dbus {

using Adaptor = org::dovel::Dovel::MsgQueue_adaptor;
using platform::automation::FromUtf8;
using platform::automation::ToUtf8;

const std::array<const char*, QueueObject::kTimerCount> QueueObject::kTimerNames = {
    "WorkerTimer", "TimeoutTimer", "HeartbeatTimer", "DiagRefreshTimer"};

QueueObject::Loaded::Loaded() : queue_(clsMsgQueue::New()) {}

QueueObject::Loaded::~Loaded() { Unload(); }

void QueueObject::Loaded::Listen(clsMsgQueue::Sink sink) {
  ThrowIfFailed("Advise", queue_->Advise(std::move(sink), cookie_));
}

void QueueObject::Loaded::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  // On its own thread neither can fail, and there is nobody left to tell.
  if (cookie_ != 0) static_cast<void>(queue_->Unadvise(cookie_));
  static_cast<void>(queue_->UnloadQueue());
}

QueueObject::QueueObject(sdbus::IConnection& connection, std::string path, std::string owner)
    : AdaptorInterfaces(connection, std::move(path)), owner_(std::move(owner)) {
  std::array<std::shared_ptr<platform::Timer>, kTimerCount> timers;
  std::u16string work, current, last;
  ThrowIfFailed("WorkQueueGUID", queue_->get_WorkQueueGUID(work));
  ThrowIfFailed("CurrentMsgGUID", queue_->get_CurrentMsgGUID(current));
  ThrowIfFailed("LastSentMsgGUID", queue_->get_LastSentMsgGUID(last));
  ThrowIfFailed("WorkerTimer", queue_->get_WorkerTimer(timers[kWorker]));
  ThrowIfFailed("TimeoutTimer", queue_->get_TimeoutTimer(timers[kTimeout]));
  ThrowIfFailed("HeartbeatTimer", queue_->get_HeartbeatTimer(timers[kHeartbeat]));
  ThrowIfFailed("DiagRefreshTimer", queue_->get_DiagRefreshTimer(timers[kDiagRefresh]));
  // An engine that could not make its lists logged why and stopped.
  if (work.empty() || timers[kWorker] == nullptr || !timers[kWorker]->Enabled()) {
    throw sdbus::Error(kFailedError, "Create: the queue object did not start; its error log says why");
  }
  work_queue_ = ToUtf8(work);
  current_ = ToUtf8(current);
  last_sent_ = ToUtf8(last);
  poster_ = std::make_unique<client::QueueClient>(work, u"", u"");
  ThrowIfFailed("Create: opening the work queue", poster_->status());
  queue_.Listen([this](QueueEvent event) { OnEvent(event); });

  registerAdaptor();
  emitInterfacesAddedSignal();
  for (std::size_t i = 0; i < kTimerCount; ++i) {
    timers_[i] = std::make_unique<QueueTimerObject>(connection, TimerPath(static_cast<TimerIndex>(i)),
                                                    std::move(timers[i]), owner_);
  }
}

QueueObject::~QueueObject() {
  // No tick may raise an event for an object that is leaving the bus.
  queue_.Unload();
  poster_.reset();
  for (auto& timer : timers_) timer.reset();
  try {
    emitInterfacesRemovedSignal();
  } catch (const sdbus::Error&) {
    // The connection is gone; so is everyone who could hear it.
  }
  unregisterAdaptor();
}

sdbus::ObjectPath QueueObject::TimerPath(TimerIndex which) const {
  return sdbus::ObjectPath(getObjectPath() + "/" + kTimerNames[which]);
}

void QueueObject::OnEvent(QueueEvent event) noexcept {
  // Whatever fails here must not stop the engine's tick.
  try {
    switch (event) {
      case QueueEvent::SendData: emitSendData(); break;
      case QueueEvent::Timeout: emitTimeout(); break;
      case QueueEvent::InactiveSession: emitInactiveSession(); break;
      case QueueEvent::Heartbeat: emitHeartbeat(); break;
      case QueueEvent::DiagRefresh: emitDiagRefresh(); break;
    }
    // The lists have moved on: what was posted may no longer be needed.
    if ((event == QueueEvent::SendData || event == QueueEvent::DiagRefresh) && poster_ != nullptr) {
      poster_->ReleaseDelivered();
    }
  } catch (...) {
  }
}

void QueueObject::InactivityComplete() {
  Guarded("InactivityComplete", [&] {
    RequireOwner(getObject(), owner_);
    ThrowIfFailed("InactivityComplete", queue_->InactivityComplete());
  });
}

void QueueObject::UnloadQueue() {
  Guarded("UnloadQueue", [&] {
    RequireOwner(getObject(), owner_);
    ThrowIfFailed("UnloadQueue", queue_->UnloadQueue());
    poster_.reset();
  });
}

std::string QueueObject::Post(const std::string& name, const std::vector<std::uint8_t>& data, const bool& automatic) {
  // Anyone may post: a short-lived poster hands its message to the server
  // that holds the queue.
  return Guarded("Post", [&] {
    if (poster_ == nullptr) throw sdbus::Error(kFailedError, "Post: the queue has been unloaded");
    auto posted = poster_->Post(FromUtf8(name), automatic, data);
    ThrowIfFailed("Post", posted.error);
    return ToUtf8(posted.value.view());
  });
}

template <class Value, class Put>
void QueueObject::SetSwitch(const char* property, Value& stored, const Value& value, Put put) {
  Guarded(property, [&] {
    RequireOwner(getObject(), owner_);
    ThrowIfFailed(property, ((*queue_).*put)(value));
    stored = value;
    emitPropertiesChangedSignal(Adaptor::INTERFACE_NAME, {property});
  });
}

void QueueObject::Disconnecting(const bool& value) {
  SetSwitch("Disconnecting", disconnecting_, value, &clsMsgQueue::put_Disconnecting);
}

void QueueObject::PanelEventWarning(const bool& value) {
  SetSwitch("PanelEventWarning", panel_event_warning_, value, &clsMsgQueue::put_PanelEventWarning);
}

void QueueObject::Unattended(const bool& value) {
  SetSwitch("Unattended", unattended_, value, &clsMsgQueue::put_Unattended);
}

void QueueObject::InactivityTimeout(const std::int16_t& value) {
  SetSwitch("InactivityTimeout", inactivity_timeout_, value, &clsMsgQueue::put_InactivityTimeout);
}

}  // namespace dovel::com::dbus
