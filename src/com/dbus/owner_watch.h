#pragma once

#include <functional>
#include <memory>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

namespace dovel::com::dbus {

// Tells when a connection that owns objects leaves the bus, from the bus's
// NameOwnerChanged on the server's own connection. Never waits for anyone:
// the bus's answers arrive as messages like any other.
class OwnerWatch {
 public:
  // `on_gone` receives the unique name of a connection that has left.
  OwnerWatch(sdbus::IConnection& connection, std::function<void(const std::string&)> on_gone);

  // For a new owner: a connection that left before its call was handled
  // sent no NameOwnerChanged the server could still see, so ask the bus
  // whether it is still there; `on_gone` follows if not.
  void CheckPresent(const std::string& owner);

 private:
  void Gone(const std::string& owner) noexcept;

  std::function<void(const std::string&)> on_gone_;
  std::unique_ptr<sdbus::IProxy> bus_;
  // The match lives as long as this watch.
  sdbus::Slot match_;
};

}  // namespace dovel::com::dbus
