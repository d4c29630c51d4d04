#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace dovel::com::dbus {

inline constexpr std::int32_t kDefaultIdleExitMs = 5000;

struct ServerOptions {
  enum class Action { kServe, kHelp, kBadUsage };
  Action action = Action::kServe;
  // How long the server waits, serving no object, before it exits.
  std::int32_t idle_exit_ms = kDefaultIdleExitMs;
  // Why the command line was refused.
  std::string error;
};

// The command line after the program's name:
//   --idle-exit-ms N   (or --idle-exit-ms=N) grace in milliseconds, 0..2147483647
//   --help, -h
[[nodiscard]] ServerOptions ParseServerOptions(std::span<const char* const> arguments);

[[nodiscard]] std::string ServerUsage();

}  // namespace dovel::com::dbus
