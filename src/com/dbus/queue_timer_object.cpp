#include "com/dbus/queue_timer_object.h"

#include "com/dbus/bus_errors.h"
#include "com/dbus/caller.h"

namespace dovel::com::dbus {

using Adaptor = org::dovel::Dovel::QueueTimer_adaptor;

QueueTimerObject::QueueTimerObject(sdbus::IConnection& connection, std::string path,
                                   std::shared_ptr<platform::Timer> timer, std::string owner)
    : AdaptorInterfaces(connection, std::move(path)), timer_(std::move(timer)), owner_(std::move(owner)) {
  registerAdaptor();
  emitInterfacesAddedSignal();
}

QueueTimerObject::~QueueTimerObject() {
  try {
    emitInterfacesRemovedSignal();
  } catch (const sdbus::Error&) {
    // The connection is gone; so is everyone who could hear it.
  }
  unregisterAdaptor();
}

std::int32_t QueueTimerObject::Interval() {
  return Guarded("Interval", [&] { return timer_->Interval(); });
}

void QueueTimerObject::Interval(const std::int32_t& value) {
  Guarded("Interval", [&] {
    RequireOwner(getObject(), owner_);
    timer_->SetInterval(value);
    emitPropertiesChangedSignal(Adaptor::INTERFACE_NAME, {"Interval"});
  });
}

bool QueueTimerObject::Enabled() {
  return Guarded("Enabled", [&] { return timer_->Enabled(); });
}

void QueueTimerObject::Enabled(const bool& value) {
  Guarded("Enabled", [&] {
    RequireOwner(getObject(), owner_);
    timer_->SetEnabled(value);
    emitPropertiesChangedSignal(Adaptor::INTERFACE_NAME, {"Enabled"});
  });
}

}  // namespace dovel::com::dbus
