#pragma once

// The proxies of the server's objects, as the bus client uses them: the
// classes generated from src/com/dbus/org.dovel.Dovel.xml, bound to one
// connection and to the server's well-known name.

#include <sdbus-c++/sdbus-c++.h>

#include <string>
#include <utility>

#include "org_dovel_Dovel_proxy.h"

namespace dovel::client::bus {

inline constexpr const char* kServerName = "org.dovel.Dovel";
inline constexpr const char* kFactoryPath = "/org/dovel/Dovel";
inline constexpr const char* kErrorExiting = "org.dovel.Dovel.Error.Exiting";

// Invoked with an event's name; what a queue handle forwards to its caller.
using EventSink = void (*)(void* context, const char* event_name);

class FactoryProxy final : public sdbus::ProxyInterfaces<org::dovel::Dovel::Factory_proxy> {
 public:
  explicit FactoryProxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, kServerName, kFactoryPath) {
    registerProxy();
  }
  ~FactoryProxy() { unregisterProxy(); }
  FactoryProxy(const FactoryProxy&) = delete;
  FactoryProxy& operator=(const FactoryProxy&) = delete;
};

class QueueProxy final : public sdbus::ProxyInterfaces<org::dovel::Dovel::MsgQueue_proxy> {
 public:
  QueueProxy(sdbus::IConnection& connection, std::string path)
      : ProxyInterfaces(connection, kServerName, std::move(path)) {
    registerProxy();
  }
  ~QueueProxy() { unregisterProxy(); }
  QueueProxy(const QueueProxy&) = delete;
  QueueProxy& operator=(const QueueProxy&) = delete;

  void SetSink(EventSink sink, void* context) noexcept {
    sink_ = sink;
    context_ = context;
  }

 private:
  void Raise(const char* event_name) noexcept {
    if (sink_ != nullptr) sink_(context_, event_name);
  }
  void onSendData() override { Raise("SendData"); }
  void onTimeout() override { Raise("Timeout"); }
  void onInactiveSession() override { Raise("InactiveSession"); }
  void onHeartbeat() override { Raise("Heartbeat"); }
  void onDiagRefresh() override { Raise("DiagRefresh"); }

  EventSink sink_ = nullptr;
  void* context_ = nullptr;
};

class TimerProxy final : public sdbus::ProxyInterfaces<org::dovel::Dovel::QueueTimer_proxy> {
 public:
  TimerProxy(sdbus::IConnection& connection, std::string path)
      : ProxyInterfaces(connection, kServerName, std::move(path)) {
    registerProxy();
  }
  ~TimerProxy() { unregisterProxy(); }
  TimerProxy(const TimerProxy&) = delete;
  TimerProxy& operator=(const TimerProxy&) = delete;
};

}  // namespace dovel::client::bus
