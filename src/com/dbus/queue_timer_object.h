#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <dovel/bus_adaptor.h>

#include "platform/loop/message_loop.h"

namespace dovel::com::dbus {

// One of a queue object's four timers on the bus: Interval and Enabled of
// the engine's live timer, so a change applies at once. Only the queue
// object's owner may change it.
class QueueTimerObject final
    : public sdbus::AdaptorInterfaces<org::dovel::Dovel::QueueTimer_adaptor, sdbus::Properties_adaptor,
                                      sdbus::ManagedObject_adaptor> {
 public:
  QueueTimerObject(sdbus::IConnection& connection, std::string path, std::shared_ptr<platform::Timer> timer,
                   std::string owner);
  // Announces the removal, then leaves the bus.
  ~QueueTimerObject();
  QueueTimerObject(const QueueTimerObject&) = delete;
  QueueTimerObject& operator=(const QueueTimerObject&) = delete;

 private:
  std::int32_t Interval() override;
  void Interval(const std::int32_t& value) override;
  bool Enabled() override;
  void Enabled(const bool& value) override;

  std::shared_ptr<platform::Timer> timer_;
  std::string owner_;
};

}  // namespace dovel::com::dbus
