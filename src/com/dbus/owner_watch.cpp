#include "com/dbus/owner_watch.h"

namespace dovel::com::dbus {
namespace {

constexpr const char* kBusDaemon = "org.freedesktop.DBus";
constexpr const char* kBusDaemonPath = "/org/freedesktop/DBus";

}  // namespace

OwnerWatch::OwnerWatch(sdbus::IConnection& connection, std::function<void(const std::string&)> on_gone)
    : on_gone_(std::move(on_gone)), bus_(sdbus::createProxy(connection, kBusDaemon, kBusDaemonPath)) {
  // The bus's own signal only: anyone can send a signal of that name.
  match_ = connection.addMatch(
      "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
      "interface='org.freedesktop.DBus',member='NameOwnerChanged'",
      [this](sdbus::Message& message) {
        std::string name, old_owner, new_owner;
        try {
          message >> name >> old_owner >> new_owner;
        } catch (const sdbus::Error&) {
          return;  // a malformed signal says nothing about anyone
        }
        if (new_owner.empty() && name.starts_with(':')) Gone(name);
      });
}

void OwnerWatch::Gone(const std::string& owner) noexcept {
  // Nothing may leave a bus callback; losing one departure costs less.
  try {
    on_gone_(owner);
  } catch (...) {
  }
}

void OwnerWatch::CheckPresent(const std::string& owner) {
  bus_->callMethodAsync("GetNameOwner")
      .onInterface(kBusDaemon)
      .withArguments(owner)
      .uponReplyInvoke([this, owner](const sdbus::Error* error, const std::string& /*unique*/) {
        if (error != nullptr && error->getName() == "org.freedesktop.DBus.Error.NameHasNoOwner") Gone(owner);
      });
}

}  // namespace dovel::com::dbus
