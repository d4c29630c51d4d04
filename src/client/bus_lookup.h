#pragma once

// Finding, without starting a server, the queue object that holds a given
// work queue.

#include <sdbus-c++/sdbus-c++.h>

#include <optional>
#include <string>

namespace dovel::client::bus {

// Whether a server owns the well-known name now (the bus answers itself).
bool ServerRuns(sdbus::IConnection& bus);

// The path of the running server's queue object whose WorkQueueGUID is
// `work_queue`, if it has one.
std::optional<std::string> FindQueuePath(sdbus::IConnection& bus, const std::string& work_queue);

}  // namespace dovel::client::bus
