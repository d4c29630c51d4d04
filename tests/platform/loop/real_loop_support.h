#pragma once

#include <cstdint>
#include <functional>

#include "platform/loop/message_loop.h"

namespace dovel::platform::testing {

// Tests of the real loop run on real time. None of them depends on how long
// anything takes: they wait for events, and a 10 s watchdog only turns a
// hang into a failure.
inline constexpr std::int32_t kWatchdogMilliseconds = 10'000;

// Runs `loop` until `done` holds or the watchdog ticks; returns `done()`.
inline bool RunWithin(MessageLoop& loop, const std::function<bool()>& done) {
  bool timed_out = false;
  auto watchdog = loop.CreateTimer([&] { timed_out = true; });
  watchdog->SetInterval(kWatchdogMilliseconds);
  watchdog->SetEnabled(true);
  loop.RunUntil([&] { return timed_out || done(); });
  return done();
}

}  // namespace dovel::platform::testing
