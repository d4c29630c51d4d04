#include "com/dbus/server_options.h"

#include <charconv>
#include <string_view>

namespace dovel::com::dbus {
namespace {

ServerOptions Refuse(std::string error) {
  ServerOptions options;
  options.action = ServerOptions::Action::kBadUsage;
  options.error = std::move(error);
  return options;
}

}  // namespace

ServerOptions ParseServerOptions(std::span<const char* const> arguments) {
  constexpr std::string_view kIdle = "--idle-exit-ms";
  ServerOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i] == nullptr ? std::string_view() : arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.action = ServerOptions::Action::kHelp;
      return options;
    }
    std::string_view value;
    if (argument == kIdle) {
      if (i + 1 == arguments.size() || arguments[i + 1] == nullptr) return Refuse("--idle-exit-ms needs a value");
      value = arguments[++i];
    } else if (argument.starts_with(kIdle) && argument.size() > kIdle.size() && argument[kIdle.size()] == '=') {
      value = argument.substr(kIdle.size() + 1);
    } else {
      return Refuse("unknown argument '" + std::string(argument) + "'");
    }
    std::int32_t milliseconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), milliseconds);
    if (error != std::errc() || end != value.data() + value.size() || milliseconds < 0) {
      return Refuse("--idle-exit-ms takes milliseconds from 0 to 2147483647, not '" + std::string(value) + "'");
    }
    options.idle_exit_ms = milliseconds;
  }
  return options;
}

std::string ServerUsage() {
  return "usage: dovel-server [--idle-exit-ms N]\n"
         "\n"
         "Serves Dovel queue objects on the session bus as org.dovel.Dovel; the bus\n"
         "starts it when a client calls it. One server per user: if another one\n"
         "already holds the name, this one exits at once.\n"
         "\n"
         "  --idle-exit-ms N  exit after N milliseconds without any queue object\n"
         "                    (default " +
         std::to_string(kDefaultIdleExitMs) +
         ")\n"
         "  -h, --help        show this text\n";
}

}  // namespace dovel::com::dbus
