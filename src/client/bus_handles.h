#pragma once

// What the handles of dovel/server.h hold. The connection is shared: queue
// handles keep it open after dovel_server_disconnect until they are
// released, so no proxy outlives the connection it uses.

#include <sdbus-c++/sdbus-c++.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "client/bus_proxies.h"
#include "dovel/server.h"

namespace dovel::client::bus {

struct Connection {
  std::unique_ptr<sdbus::IConnection> bus;
  // While dovel_server_dispatch runs, a released handle's proxy may be the
  // one whose signal is being delivered: it is kept here until the dispatch
  // ends.
  bool dispatching = false;
  std::vector<std::unique_ptr<QueueProxy>> retired;
};

}  // namespace dovel::client::bus

struct dovel_server {
  std::shared_ptr<dovel::client::bus::Connection> connection;
};

struct dovel_server_queue {
  std::shared_ptr<dovel::client::bus::Connection> connection;
  std::string path;
  // Work queue, current list, last sent: in dovel_queue_list order.
  std::array<std::string, 3> lists;
  // Whether this handle created the object, so its release releases it.
  bool owned = false;
  std::unique_ptr<dovel::client::bus::QueueProxy> proxy;
  // Made on first use, in dovel_server_timer order.
  std::array<std::unique_ptr<dovel::client::bus::TimerProxy>, 4> timers;
};
