#include "client/bus_lookup.h"

#include <map>

#include "client/bus_proxies.h"

namespace dovel::client::bus {
namespace {

constexpr const char* kQueueInterface = org::dovel::Dovel::MsgQueue_proxy::INTERFACE_NAME;

using Properties = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

}  // namespace

bool ServerRuns(sdbus::IConnection& bus) {
  const auto daemon = sdbus::createProxy(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bool owned = false;
  daemon->callMethod("NameHasOwner")
      .onInterface("org.freedesktop.DBus")
      .withArguments(kServerName)
      .storeResultsTo(owned);
  return owned;
}

std::optional<std::string> FindQueuePath(sdbus::IConnection& bus, const std::string& work_queue) {
  const auto factory = sdbus::createProxy(bus, kServerName, kFactoryPath);
  ManagedObjects objects;
  factory->callMethod("GetManagedObjects").onInterface("org.freedesktop.DBus.ObjectManager").storeResultsTo(objects);
  for (const auto& [path, interfaces] : objects) {
    const auto queue = interfaces.find(kQueueInterface);
    if (queue == interfaces.end()) continue;
    const auto property = queue->second.find("WorkQueueGUID");
    std::string id;
    if (property != queue->second.end()) {
      id = property->second.get<std::string>();
    } else {
      // An object manager may leave properties out; ask the object itself.
      const auto object = sdbus::createProxy(bus, kServerName, path);
      id = object->getProperty("WorkQueueGUID").onInterface(kQueueInterface).get<std::string>();
    }
    if (id == work_queue) return std::string(path);
  }
  return std::nullopt;
}

}  // namespace dovel::client::bus
