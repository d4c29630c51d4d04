// dovel-server: Dovel's queue objects on the session bus. See server.h and
// org.dovel.Dovel.xml.
#include <cstdio>
#include <span>

#include "com/dbus/server.h"
#include "com/dbus/server_options.h"

int main(int argc, char** argv) {
  namespace dbus = dovel::com::dbus;
  const std::span<const char* const> arguments(argv + 1, argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
  const dbus::ServerOptions options = dbus::ParseServerOptions(arguments);
  switch (options.action) {
    case dbus::ServerOptions::Action::kHelp: std::fputs(dbus::ServerUsage().c_str(), stdout); return 0;
    case dbus::ServerOptions::Action::kBadUsage:
      std::fprintf(stderr, "dovel-server: %s\n%s", options.error.c_str(), dbus::ServerUsage().c_str());
      return 2;
    case dbus::ServerOptions::Action::kServe: break;
  }
  return dbus::RunServer(options);
}
