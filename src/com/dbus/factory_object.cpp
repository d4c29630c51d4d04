#include "com/dbus/factory_object.h"

#include <algorithm>

#include "com/dbus/bus_errors.h"
#include "com/dbus/bus_names.h"
#include "com/dbus/caller.h"

namespace dovel::com::dbus {

using Adaptor = org::dovel::Dovel::Factory_adaptor;

FactoryObject::FactoryObject(sdbus::IConnection& connection, std::function<void(std::size_t)> on_count,
                             std::function<void(const std::string&)> on_new_owner)
    : AdaptorInterfaces(connection, kFactoryPath),
      connection_(connection),
      on_count_(std::move(on_count)),
      on_new_owner_(std::move(on_new_owner)) {
  registerAdaptor();
}

FactoryObject::~FactoryObject() {
  ReleaseAll();
  FreeReleased();
  unregisterAdaptor();
}

bool FactoryObject::Owns(const std::string& owner) const {
  return std::any_of(live_.begin(), live_.end(), [&](const auto& entry) { return entry.second->Owner() == owner; });
}

sdbus::ObjectPath FactoryObject::Create() {
  return Guarded("Create", [&] {
    if (exiting_) throw sdbus::Error(kExitingError, "dovel-server is shutting down; call again to start another");
    const std::string owner = CallerOf(getObject());
    // Numbers are never reused, not even those of a failed start.
    const std::string path = std::string(kQueuePathPrefix) + std::to_string(next_number_++);
    const bool first_of_owner = !Owns(owner);
    live_.emplace(path, std::make_unique<QueueObject>(connection_, path, owner));
    CountChanged();
    if (first_of_owner && on_new_owner_) on_new_owner_(owner);
    return sdbus::ObjectPath(path);
  });
}

void FactoryObject::Release(const sdbus::ObjectPath& object) {
  Guarded("Release", [&] {
    const auto found = live_.find(object);
    if (found == live_.end()) throw sdbus::Error(kNoSuchObjectError, object + " is no live queue object");
    if (found->second->Owner() != CallerOf(getObject())) {
      throw sdbus::Error(kNotOwnerError, object + " belongs to another connection");
    }
    released_.push_back(std::move(found->second));
    live_.erase(found);
    CountChanged();
  });
}

void FactoryObject::ReleaseOwnedBy(const std::string& owner) {
  const std::size_t before = live_.size();
  for (auto it = live_.begin(); it != live_.end();) {
    if (it->second->Owner() == owner) {
      released_.push_back(std::move(it->second));
      it = live_.erase(it);
    } else {
      ++it;
    }
  }
  if (live_.size() != before) CountChanged();
}

void FactoryObject::ReleaseAll() {
  if (live_.empty()) return;
  for (auto& entry : live_) released_.push_back(std::move(entry.second));
  live_.clear();
  CountChanged();
}

void FactoryObject::FreeReleased() {
  // Freeing emits signals, which cannot release more; still, take the list
  // first so that nothing is freed twice.
  std::vector<std::unique_ptr<QueueObject>> doomed;
  doomed.swap(released_);
  doomed.clear();
}

void FactoryObject::CountChanged() {
  try {
    emitPropertiesChangedSignal(Adaptor::INTERFACE_NAME, {"ObjectCount"});
  } catch (const sdbus::Error&) {
    // A broken connection: the server is on its way out anyway.
  }
  if (on_count_) on_count_(live_.size());
}

}  // namespace dovel::com::dbus
