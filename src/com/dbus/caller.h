#pragma once

#include <string>

namespace sdbus {
class IObject;
}

namespace dovel::com::dbus {

// The unique bus name of the connection whose call `object` is handling
// right now; empty outside a call.
[[nodiscard]] std::string CallerOf(const sdbus::IObject& object);

// Refuses the call in progress with org.dovel.Dovel.Error.NotOwner unless
// it comes from `owner`.
void RequireOwner(const sdbus::IObject& object, const std::string& owner);

}  // namespace dovel::com::dbus
