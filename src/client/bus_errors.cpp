#include "client/bus_errors.h"

#include <string>
#include <string_view>

#include "dovel/server.h"

namespace dovel::client::bus {
namespace {

thread_local std::string last_error;

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

dovel_result ResultOf(const sdbus::Error& error) noexcept {
  const std::string_view name = error.getName();
  if (name == "org.dovel.Dovel.Error.NotOwner") return DOVEL_NOT_OWNER;
  if (name == "org.dovel.Dovel.Error.NoSuchObject" || name == "org.freedesktop.DBus.Error.UnknownObject" ||
      name == "org.freedesktop.DBus.Error.UnknownInterface" || name == "org.freedesktop.DBus.Error.UnknownProperty") {
    return DOVEL_NO_OBJECT;
  }
  // No server to be had: none may be started, or the one started failed.
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
      StartsWith(name, "org.freedesktop.DBus.Error.Spawn.")) {
    return DOVEL_NO_SERVER;
  }
  if (name == "org.freedesktop.DBus.Error.InvalidArgs") return DOVEL_INVALID_ARGUMENT;
  return DOVEL_BUS_ERROR;
}

void RememberError(const sdbus::Error& error) noexcept {
  try {
    last_error = error.getName() + ": " + error.getMessage();
  } catch (...) {
    last_error.clear();
  }
}

void ForgetError() noexcept { last_error.clear(); }

}  // namespace dovel::client::bus

extern "C" const char* dovel_server_last_error(void) { return dovel::client::bus::last_error.c_str(); }
