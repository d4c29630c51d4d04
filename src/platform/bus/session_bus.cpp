#include "platform/bus/session_bus.h"

#include <sdbus-c++/sdbus-c++.h>
#include <cstdlib>
#include <string_view>

namespace dovel::platform {

std::unique_ptr<sdbus::IConnection> ConnectSessionBus() {
  // A bus that activated us says which bus it is; only a session bus counts.
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");
  const char* type = std::getenv("DBUS_STARTER_BUS_TYPE");
  if (starter != nullptr && *starter != '\0' && (type == nullptr || std::string_view(type) == "session")) {
    return sdbus::createSessionBusConnectionWithAddress(starter);
  }
  return sdbus::createSessionBusConnection();
}

}  // namespace dovel::platform
