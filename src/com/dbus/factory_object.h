#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <dovel/bus_adaptor.h>

#include "com/dbus/queue_object.h"

namespace dovel::com::dbus {

// /org/dovel/Dovel: creates and releases queue objects, keeps track of who
// owns which, and is their object manager.
//
// An object is never freed inside a call: Release, and an owner leaving,
// only take it off the books; FreeReleased, run before the next message is
// dispatched, frees it, so no call can reach an object being destroyed.
class FactoryObject final : public sdbus::AdaptorInterfaces<org::dovel::Dovel::Factory_adaptor,
                                                            sdbus::Properties_adaptor, sdbus::ObjectManager_adaptor> {
 public:
  // `on_count` hears the number of live objects after every change;
  // `on_new_owner` hears of a connection that created its first object.
  FactoryObject(sdbus::IConnection& connection, std::function<void(std::size_t)> on_count,
                std::function<void(const std::string&)> on_new_owner);
  ~FactoryObject();
  FactoryObject(const FactoryObject&) = delete;
  FactoryObject& operator=(const FactoryObject&) = delete;

  // From now on Create answers org.dovel.Dovel.Error.Exiting.
  void RefuseCreates() { exiting_ = true; }
  // Releases every object of `owner` (a connection that left the bus).
  void ReleaseOwnedBy(const std::string& owner);
  void ReleaseAll();
  // Frees what was released.
  void FreeReleased();

  std::size_t Count() const { return live_.size(); }

 private:
  sdbus::ObjectPath Create() override;
  void Release(const sdbus::ObjectPath& object) override;
  std::uint32_t ObjectCount() override { return static_cast<std::uint32_t>(live_.size()); }
  void CountChanged();
  bool Owns(const std::string& owner) const;

  sdbus::IConnection& connection_;
  std::function<void(std::size_t)> on_count_;
  std::function<void(const std::string&)> on_new_owner_;
  std::map<std::string, std::unique_ptr<QueueObject>> live_;
  std::vector<std::unique_ptr<QueueObject>> released_;
  std::uint64_t next_number_ = 1;
  bool exiting_ = false;
};

}  // namespace dovel::com::dbus
