#include "com/dbus/server.h"

#include <sdbus-c++/sdbus-c++.h>
#include <cstdio>
#include <memory>
#include <optional>

#include "com/dbus/bus_names.h"
#include "com/dbus/factory_object.h"
#include "com/dbus/idle_exit.h"
#include "com/dbus/owner_watch.h"
#include "errorlog/error_log_object.h"
#include "platform/automation/object_factory.h"
#include "platform/bus/bus_pump.h"
#include "platform/bus/session_bus.h"
#include "platform/loop/message_loop.h"
#include "platform/process/descriptor_limit.h"
#include "platform/process/termination_signals.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::com::dbus {
namespace {

void Say(const std::string& what) { std::fprintf(stderr, "dovel-server: %s\n", what.c_str()); }

// Everything that lives on the bus, in the order it must be torn down in.
class Server {
 public:
  Server(platform::MessageLoop& loop, sdbus::IConnection& connection, std::int32_t idle_exit_ms)
      : connection_(connection),
        pump_(loop, connection),
        idle_(loop, idle_exit_ms, [this] { pump_.Stop(); }),
        watch_(connection, [this](const std::string& owner) { factory_->ReleaseOwnedBy(owner); }) {
    factory_.emplace(
        connection, [this](std::size_t live) { idle_.ObjectsChanged(live); },
        [this](const std::string& owner) { watch_.CheckPresent(owner); });
    pump_.SetBetweenMessages([this] { factory_->FreeReleased(); });
  }

  [[nodiscard]] int Serve(platform::TerminationSignals& signals) {
    try {
      connection_.requestName(kBusName);
    } catch (const sdbus::Error& e) {
      if (e.getName() == "org.freedesktop.DBus.Error.FileExists" || e.getName() == "System.Error.EEXIST") {
        Say(std::string("another server already serves ") + kBusName + " on this bus");
        return 0;
      }
      Say(std::string("cannot take the name ") + kBusName + ": " + e.getMessage());
      return 1;
    }
    // The call that made the bus start us was read with the name's reply;
    // it is answered before the first grace period can run out.
    if (!pump_.Drain()) return Lost();
    idle_.ObjectsChanged(factory_->Count());

    bool terminated = false;
    pump_.Watch(signals.Descriptor(), [&] {
      if (signals.Consume()) {
        terminated = true;
        pump_.Stop();
      }
    });
    if (pump_.Run() == platform::BusPump::End::kConnectionLost) return Lost();

    // Let go of the name first: from here a call to it starts a new server,
    // and what was sent to us before is answered (Create with Exiting).
    factory_->RefuseCreates();
    try {
      connection_.releaseName(kBusName);
    } catch (const sdbus::Error& e) {
      Say(std::string("could not release ") + kBusName + ": " + e.getMessage());
    }
    if (terminated) {
      Say("terminated: unloading every queue object");
      factory_->ReleaseAll();
    }
    if (!pump_.Drain()) return Lost();
    factory_->ReleaseAll();
    factory_->FreeReleased();
    return 0;
  }

 private:
  int Lost() {
    Say("the bus connection closed; unloading every queue object");
    factory_->RefuseCreates();
    factory_->ReleaseAll();
    factory_->FreeReleased();
    return 0;
  }

  sdbus::IConnection& connection_;
  platform::BusPump pump_;
  IdleExit idle_;
  OwnerWatch watch_;
  // Made after the watch it reports new owners to; goes first.
  std::optional<FactoryObject> factory_;
};

}  // namespace

int RunServer(const ServerOptions& options) {
  // Before anything can start a thread that would not see the handlers.
  platform::TerminationSignals signals;
  // What any host of queue objects does first: leftovers of crashed
  // processes go, and every block it may hold gets a descriptor.
  platform::SweepStaleBlocks();
  platform::RaiseDescriptorLimit();
  errorlog::RegisterErrorLogSubstitute(platform::automation::ProcessClassTable());
  platform::MessageLoop& loop = platform::CurrentMessageLoop();

  std::unique_ptr<sdbus::IConnection> connection;
  try {
    connection = platform::ConnectSessionBus();
  } catch (const sdbus::Error& e) {
    Say("cannot connect to the session bus: " + e.getMessage());
    return 1;
  }
  try {
    Server server(loop, *connection, options.idle_exit_ms);
    return server.Serve(signals);
  } catch (const sdbus::Error& e) {
    Say("cannot serve: " + e.getMessage());
    return 1;
  }
}

}  // namespace dovel::com::dbus
