#pragma once

#include <memory>

namespace sdbus {
class IConnection;
}

namespace dovel::platform {

// A connection to the session bus that started this process, else to the
// user's session bus. Never the system bus, whatever the account: outside a
// login session sd-bus would pick that one for a root process.
// Throws sdbus::Error when the bus cannot be reached.
[[nodiscard]] std::unique_ptr<sdbus::IConnection> ConnectSessionBus();

}  // namespace dovel::platform
