// Queue handles of the bus client: creating an object on the server,
// opening one by its path or by its work queue, and releasing.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "client/bus_errors.h"
#include "client/bus_handles.h"
#include "client/bus_lookup.h"
#include "client/c_boundary.h"
#include "dovel/server.h"

namespace {

using dovel::client::Finish;
using dovel::client::bus::BusGuarded;
using dovel::client::bus::Connection;
using dovel::client::bus::FactoryProxy;
using dovel::client::bus::QueueProxy;

// The bus's rule for an object path: "/", or "/"-separated non-empty
// elements of ASCII letters, digits and "_".
bool IsObjectPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  if (path.size() == 1) return true;
  if (path.back() == '/') return false;
  char previous = '\0';
  for (const char c : path) {
    const bool element = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!element && (c != '/' || previous == '/')) return false;
    previous = c;
  }
  return true;
}

bool IsIdentifier(const std::string& text) {
  dovel::store::Identifier id;
  return !dovel::client::ParseCallerId(text.c_str(), id);
}

// A handle on the queue object at `path`, with its identifiers read. An
// object whose identifiers are not identifiers is no queue object of ours.
dovel_result MakeHandle(const std::shared_ptr<Connection>& connection, const std::string& path, bool owned,
                        std::unique_ptr<dovel_server_queue>& out) {
  auto queue = std::make_unique<dovel_server_queue>();
  queue->connection = connection;
  queue->path = path;
  queue->owned = owned;
  queue->proxy = std::make_unique<QueueProxy>(*connection->bus, path);
  queue->lists = {queue->proxy->WorkQueueGUID(), queue->proxy->CurrentMsgGUID(), queue->proxy->LastSentMsgGUID()};
  for (const std::string& id : queue->lists) {
    if (!IsIdentifier(id)) return DOVEL_BUS_ERROR;
  }
  out = std::move(queue);
  return DOVEL_OK;
}

// Create, asked once more of a server that answers it is exiting: by then
// it has given up the well-known name, so the bus starts a new one.
std::string CreateObject(sdbus::IConnection& bus) {
  FactoryProxy factory(bus);
  try {
    return factory.Create();
  } catch (const sdbus::Error& error) {
    if (error.getName() != dovel::client::bus::kErrorExiting) throw;
  }
  return factory.Create();
}

// Frees the handle; a proxy whose signal is being dispatched waits for the
// dispatch to end.
void FreeHandle(dovel_server_queue* queue) {
  Connection& connection = *queue->connection;
  if (connection.dispatching && queue->proxy != nullptr) {
    queue->proxy->SetSink(nullptr, nullptr);
    connection.retired.push_back(std::move(queue->proxy));
  }
  // Proxies before the connection they use: the handle's members go in
  // reverse order, the connection last.
  delete queue;
}

}  // namespace

extern "C" {

dovel_result dovel_server_create_queue(dovel_server* server, dovel_server_queue** out) {
  if (server == nullptr || out == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  return BusGuarded([&] {
    sdbus::IConnection& bus = *server->connection->bus;
    const std::string path = CreateObject(bus);
    std::unique_ptr<dovel_server_queue> queue;
    dovel_result made = DOVEL_SYSTEM_ERROR;
    try {
      made = MakeHandle(server->connection, path, true, queue);
    } catch (...) {
      made = DOVEL_SYSTEM_ERROR;
    }
    if (made != DOVEL_OK) {
      // An object we cannot use is released, not left to the connection.
      FactoryProxy(bus).Release(sdbus::ObjectPath(path));
      return DOVEL_BUS_ERROR;
    }
    *out = queue.release();
    return DOVEL_OK;
  });
}

dovel_result dovel_server_open_queue(dovel_server* server, const char* path, dovel_server_queue** out) {
  if (server == nullptr || path == nullptr || out == nullptr || !IsObjectPath(path)) {
    return Finish(DOVEL_INVALID_ARGUMENT);
  }
  return BusGuarded([&] {
    std::unique_ptr<dovel_server_queue> queue;
    const dovel_result made = MakeHandle(server->connection, path, false, queue);
    if (made == DOVEL_OK) *out = queue.release();
    return made;
  });
}

dovel_result dovel_server_find_queue(dovel_server* server, const char* work_queue_id, dovel_server_queue** out) {
  if (server == nullptr || out == nullptr) return Finish(DOVEL_INVALID_ARGUMENT);
  dovel::store::Identifier id;
  if (const std::error_code refused = dovel::client::ParseCallerId(work_queue_id, id)) return Finish(refused);
  return BusGuarded([&] {
    sdbus::IConnection& bus = *server->connection->bus;
    if (!dovel::client::bus::ServerRuns(bus)) return DOVEL_NO_SERVER;
    const auto path = dovel::client::bus::FindQueuePath(bus, work_queue_id);
    if (!path) return DOVEL_NO_OBJECT;
    std::unique_ptr<dovel_server_queue> queue;
    const dovel_result made = MakeHandle(server->connection, *path, false, queue);
    if (made == DOVEL_OK) *out = queue.release();
    return made;
  });
}

dovel_result dovel_server_queue_release(dovel_server_queue* queue) {
  if (queue == nullptr) return Finish(DOVEL_OK);
  const dovel_result released = BusGuarded([&] {
    if (queue->owned) FactoryProxy(*queue->connection->bus).Release(sdbus::ObjectPath(queue->path));
    return DOVEL_OK;
  });
  try {
    FreeHandle(queue);
  } catch (...) {
    // Unregistering a proxy reports nothing worth a crash.
  }
  return released;
}

const char* dovel_server_queue_path(const dovel_server_queue* queue) {
  return queue == nullptr ? nullptr : queue->path.c_str();
}

dovel_result dovel_server_queue_list_id(const dovel_server_queue* queue, dovel_queue_list which, char* id_out) {
  if (queue == nullptr || id_out == nullptr || which < DOVEL_WORK_QUEUE || which > DOVEL_LAST_SENT) {
    return Finish(DOVEL_INVALID_ARGUMENT);
  }
  const std::string& id = queue->lists.at(static_cast<std::size_t>(which));
  std::memcpy(id_out, id.c_str(), id.size() + 1);
  return Finish(DOVEL_OK);
}

}  // extern "C"
