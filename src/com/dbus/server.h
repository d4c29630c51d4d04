#pragma once

#include "com/dbus/server_options.h"

namespace dovel::com::dbus {

// Serves queue objects on the session bus until the server has been idle
// for its grace period, is told to terminate (SIGTERM, SIGINT) or loses the
// bus. Messages go to standard error. The exit status: 0 when it ended as
// planned, another server already serving included; 1 when it could not
// serve.
[[nodiscard]] int RunServer(const ServerOptions& options);

}  // namespace dovel::com::dbus
