// The connection of the bus client: opening it, and waiting and
// dispatching on the caller's thread (the library runs no thread of its
// own).
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "client/bus_errors.h"
#include "client/bus_handles.h"
#include "client/bus_lookup.h"
#include "dovel/server.h"
#include "platform/process/poll_wait.h"

namespace {

using dovel::client::Finish;
using dovel::client::bus::BusGuarded;
using dovel::client::bus::Connection;

// Processes every message already read or readable without waiting.
bool ProcessPending(sdbus::IConnection& bus) {
  bool any = false;
  while (bus.processPendingRequest()) any = true;
  return any;
}

// Ends a dispatch: proxies released during it go now.
class DispatchScope {
 public:
  explicit DispatchScope(Connection& connection) : connection_(connection) { connection_.dispatching = true; }
  ~DispatchScope() {
    connection_.dispatching = false;
    connection_.retired.clear();
  }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  Connection& connection_;
};

}  // namespace

extern "C" {

dovel_result dovel_server_connect(dovel_server** out) {
  if (out == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    auto connection = std::make_shared<Connection>();
    try {
      // Named explicitly: outside a login session sd-bus would otherwise
      // pick the system bus for a process run as root.
      connection->bus = sdbus::createSessionBusConnection();
    } catch (const sdbus::Error& error) {
      dovel::client::bus::RememberError(error);
      return DOVEL_NO_SERVER;
    }
    *out = new dovel_server{std::move(connection)};
    return DOVEL_OK;
  });
}

void dovel_server_disconnect(dovel_server* server) {
  try {
    delete server;
  } catch (...) {
    // Closing a connection reports nothing worth a crash.
  }
}

dovel_result dovel_server_poll_fd(dovel_server* server, int* fd, short* events) {
  if (server == nullptr || fd == nullptr || events == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    const auto poll = server->connection->bus->getEventLoopPollData();
    *fd = poll.fd;
    *events = poll.events;
    return DOVEL_OK;
  });
}

dovel_result dovel_server_timeout_ms(dovel_server* server, int* timeout_ms) {
  if (server == nullptr || timeout_ms == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    *timeout_ms = server->connection->bus->getEventLoopPollData().getPollTimeout();
    return DOVEL_OK;
  });
}

dovel_result dovel_server_is_running(dovel_server* server, int* running) {
  if (server == nullptr || running == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    *running = dovel::client::bus::ServerRuns(*server->connection->bus) ? 1 : 0;
    return DOVEL_OK;
  });
}

dovel_result dovel_server_dispatch(dovel_server* server, int timeout_ms) {
  if (server == nullptr || timeout_ms < -1) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&]() -> dovel_result {
    Connection& connection = *server->connection;
    if (connection.dispatching) return DOVEL_INVALID_ARGUMENT;
    const DispatchScope scope(connection);
    sdbus::IConnection& bus = *connection.bus;
    if (ProcessPending(bus)) return DOVEL_OK;
    if (timeout_ms == 0) return DOVEL_EMPTY;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int wait = timeout_ms;
      if (timeout_ms > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return DOVEL_EMPTY;
        wait = static_cast<int>(left);
      }
      // The bus's own deadline, 0 when it has read messages ahead: the
      // descriptor would not wake us for those.
      const auto poll = bus.getEventLoopPollData();
      const int bus_wait = poll.getPollTimeout();
      if (bus_wait >= 0 && (wait < 0 || bus_wait < wait)) wait = bus_wait;
      // At least a millisecond, so a bus deadline that has passed without
      // anything to process cannot spin.
      if (wait == 0) wait = 1;
      bool ready = false;
      if (dovel::platform::PollWait(poll.fd, poll.events, wait, ready)) return DOVEL_SYSTEM_ERROR;
      if (ProcessPending(bus)) return DOVEL_OK;
    }
  });
}

}  // extern "C"
