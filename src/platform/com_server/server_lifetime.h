#pragma once

#include <functional>

namespace dovel::platform::com_server {

// How long the server's module stays: while any COM object of ours lives or
// a client holds a lock on a class factory.
//
// An in-process server (a DLL) only counts, for DllCanUnloadNow. A local
// server (an executable) counts through COM's own server-process count, which
// also stops new activations the moment the count reaches zero, so a client
// can never get an object from a server that is already on its way out; the
// hook given here then runs (on the thread that released the last object).
class ServerLifetime {
 public:
  static void ObjectCreated();
  static void ObjectDestroyed();
  static void Lock();
  static void Unlock();

  // True while nothing keeps the module loaded.
  static bool CanUnload();

  // For a local server, before it registers its class factories.
  static void UseServerProcessCount(std::function<void()> on_last_release);
};

}  // namespace dovel::platform::com_server
