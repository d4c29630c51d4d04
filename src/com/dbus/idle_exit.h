#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/loop/message_loop.h"

namespace dovel::com::dbus {

// Ends the server when it has served no object for a grace period: the
// countdown starts whenever the count of objects falls to 0 (and at start)
// and stops when an object is created.
class IdleExit {
 public:
  // A grace of 0 counts as 1 ms: the loop's timers do not tick at 0.
  IdleExit(platform::MessageLoop& loop, std::int32_t grace_ms, std::function<void()> on_expiry);

  void ObjectsChanged(std::size_t live);

 private:
  std::int32_t grace_ms_;
  std::function<void()> on_expiry_;
  std::unique_ptr<platform::Timer> timer_;
};

}  // namespace dovel::com::dbus
