#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/loop/message_loop.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/loop/win32_message_loop.h"
#else
#include <poll.h>

#include "platform/loop/uv_message_loop.h"
#endif

namespace dovel::platform::testing {

// The loop this platform really runs on; the contract tests are written
// against it so that every platform's loop passes the same ones.
#if defined(_WIN32)
using RealLoop = Win32MessageLoop;
#else
using RealLoop = UvMessageLoop;
#endif

// Tests of the real loop run on real time. None of them depends on how long
// anything takes: they wait for events, and a 10 s watchdog only turns a
// hang into a failure.
inline constexpr std::int32_t kWatchdogMilliseconds = 10'000;

// TimeUntilDue counts whole milliseconds, rounded up so that a wait of that
// long never ends before the tick is due: on a clock finer than that, one
// more than the interval just after arming.
inline constexpr int kRoundedUpMs = 1;

// Ends a run of `loop` that has hung. It is a thread rather than one of the
// loop's timers, so that it also ends a run whose fault is that it starves
// the timers.
class Watchdog {
 public:
  explicit Watchdog(MessageLoop& loop)
      : thread_([this, &loop] {
          std::unique_lock lock(mutex_);
          if (cancelled_changed_.wait_for(lock, std::chrono::milliseconds(kWatchdogMilliseconds),
                                          [this] { return cancelled_; })) {
            return;
          }
          expired_ = true;
          // Also wakes a run that waits with nothing to do, so it sees the
          // expiry.
          loop.Post([&loop] { loop.Stop(); });
        }) {}

  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      cancelled_ = true;
    }
    cancelled_changed_.notify_one();
    thread_.join();
  }

  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  bool expired() const { return expired_; }

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_changed_;
  bool cancelled_ = false;
  std::atomic<bool> expired_{false};
  // Last, so that it starts once the members it uses exist.
  std::thread thread_;
};

// Runs `loop` until `done` holds or the watchdog expires; returns `done()`.
inline bool RunWithin(MessageLoop& loop, const std::function<bool()>& done) {
  Watchdog watchdog(loop);
  loop.RunUntil([&] { return watchdog.expired() || done(); });
  return done();
}

// Runs `loop` until its own work ends the run (by Stop, or on Windows by
// WM_QUIT); false when the watchdog had to.
inline bool RunUntilStopped(MessageLoop& loop) {
  Watchdog watchdog(loop);
  loop.Run();
  return !watchdog.expired();
}

// Waits as a host driving `loop` itself does, until the loop has work that
// announces itself or `timeout_ms` is over (-1: no limit): on the loop's
// descriptor, or on Windows, which has none, on the thread's message queue.
// False when the timeout ended the wait.
inline bool WaitAsHost(MessageLoop& loop, int timeout_ms) {
#if defined(_WIN32)
  static_cast<void>(loop);
  const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  return MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_TIMEOUT;
#else
  pollfd entry{loop.PollDescriptor(), POLLIN, 0};
  return poll(&entry, 1, timeout_ms) == 1;
#endif
}

}  // namespace dovel::platform::testing
