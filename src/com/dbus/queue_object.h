#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <dovel/bus_adaptor.h>

#include "client/queue_client.h"
#include "com/cls_msg_queue.h"
#include "com/dbus/queue_timer_object.h"

namespace dovel::com::dbus {

// A queue object (clsMsgQueue) on the bus, with its four timers as child
// objects; its events go out as signals of the same names. Only its owner,
// the connection that created it, may change it (properties, methods,
// timers); anyone may read its properties and Post into it.
class QueueObject final : public sdbus::AdaptorInterfaces<org::dovel::Dovel::MsgQueue_adaptor,
                                                          sdbus::Properties_adaptor, sdbus::ManagedObject_adaptor> {
 public:
  // Starts a new queue object on this thread and publishes it at `path`.
  // Throws org.dovel.Dovel.Error.Failed when its engine did not start.
  QueueObject(sdbus::IConnection& connection, std::string path, std::string owner);
  // Unloads the queue, takes the timers off the bus, then itself.
  ~QueueObject();
  QueueObject(const QueueObject&) = delete;
  QueueObject& operator=(const QueueObject&) = delete;

  const std::string& Owner() const { return owner_; }
  const std::string& Path() const { return getObjectPath(); }

 private:
  // The started queue object and its sink; unloaded when this goes, so that
  // a constructor that fails half-way leaves no engine running.
  class Loaded {
   public:
    Loaded();
    ~Loaded();
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    clsMsgQueue& operator*() const { return *queue_; }
    clsMsgQueue* operator->() const { return queue_.get(); }
    void Listen(clsMsgQueue::Sink sink);
    // Idempotent.
    void Unload();

   private:
    std::shared_ptr<clsMsgQueue> queue_;
    std::uint32_t cookie_ = 0;
    bool unloaded_ = false;
  };

  void InactivityComplete() override;
  void UnloadQueue() override;
  std::string Post(const std::string& name, const std::vector<std::uint8_t>& data, const bool& automatic) override;
  std::string WorkQueueGUID() override { return work_queue_; }
  std::string CurrentMsgGUID() override { return current_; }
  std::string LastSentMsgGUID() override { return last_sent_; }
  bool Disconnecting() override { return disconnecting_; }
  void Disconnecting(const bool& value) override;
  bool PanelEventWarning() override { return panel_event_warning_; }
  void PanelEventWarning(const bool& value) override;
  bool Unattended() override { return unattended_; }
  void Unattended(const bool& value) override;
  std::int16_t InactivityTimeout() override { return inactivity_timeout_; }
  void InactivityTimeout(const std::int16_t& value) override;
  sdbus::ObjectPath WorkerTimer() override { return TimerPath(kWorker); }
  sdbus::ObjectPath TimeoutTimer() override { return TimerPath(kTimeout); }
  sdbus::ObjectPath HeartbeatTimer() override { return TimerPath(kHeartbeat); }
  sdbus::ObjectPath DiagRefreshTimer() override { return TimerPath(kDiagRefresh); }

  enum TimerIndex : std::size_t { kWorker, kTimeout, kHeartbeat, kDiagRefresh, kTimerCount };
  static const std::array<const char*, kTimerCount> kTimerNames;
  sdbus::ObjectPath TimerPath(TimerIndex which) const;
  void OnEvent(QueueEvent event) noexcept;
  // Sets a switch: the owner only; the object's refusal becomes Failed.
  template <class Value, class Put>
  void SetSwitch(const char* property, Value& stored, const Value& value, Put put);

  std::string owner_;
  Loaded queue_;
  std::string work_queue_, current_, last_sent_;
  // The poster the server posts through, on the work queue only; it holds
  // what it posted until the message is no longer needed. Gone once the
  // queue is unloaded.
  std::unique_ptr<client::QueueClient> poster_;
  bool disconnecting_ = false;
  bool panel_event_warning_ = false;
  bool unattended_ = false;
  std::int16_t inactivity_timeout_ = 0;
  std::array<std::unique_ptr<QueueTimerObject>, kTimerCount> timers_;
};

}  // namespace dovel::com::dbus
