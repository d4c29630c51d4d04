#include "com/dbus/caller.h"

#include <sdbus-c++/sdbus-c++.h>

#include "com/dbus/bus_names.h"

namespace dovel::com::dbus {

std::string CallerOf(const sdbus::IObject& object) {
  const sdbus::Message* message = object.getCurrentlyProcessedMessage();
  return message == nullptr ? std::string() : message->getSender();
}

void RequireOwner(const sdbus::IObject& object, const std::string& owner) {
  if (CallerOf(object) != owner) {
    throw sdbus::Error(kNotOwnerError, object.getObjectPath() + " belongs to another connection");
  }
}

}  // namespace dovel::com::dbus
