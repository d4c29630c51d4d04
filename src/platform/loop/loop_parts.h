#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "platform/loop/message_loop.h"

namespace dovel::platform {

// The settings of a Timer, kept the same way by every loop: a value it already
// has changes nothing, so the countdown goes on; Enabled switched, or
// Interval changed while enabled, calls SettingsChanged, which starts a fresh
// countdown when the timer now runs and stops it otherwise.
class TimerSettings : public Timer {
 public:
  std::int32_t Interval() const final { return interval_; }

  void SetInterval(std::int32_t milliseconds) final {
    if (milliseconds == interval_) return;
    interval_ = milliseconds;
    if (enabled_) SettingsChanged();
  }

  bool Enabled() const final { return enabled_; }

  void SetEnabled(bool enabled) final {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    SettingsChanged();
  }

 protected:
  bool Runs() const { return enabled_ && interval_ > 0; }
  virtual void SettingsChanged() = 0;

  std::int32_t interval_ = 0;
  bool enabled_ = false;
};

// A repeating timer keeps its own schedule: its next tick is due one
// interval after the last one was due, or at the first such time after
// `now` when the loop came later than that, so late ticks never pile up.
template <class Time>
Time NextDueOnSchedule(Time due, Time interval, Time now) {
  Time next = due + interval;
  if (next <= now) next += ((now - next) / interval + 1) * interval;
  return next;
}

// Marks work in progress for as long as a tick or posted work runs, also when
// it throws.
class WorkScope {
 public:
  explicit WorkScope(int& depth) : depth_(depth) { ++depth_; }
  ~WorkScope() { --depth_; }
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  int& depth_;
};

// Runs one tick or posted work of a loop whose work is called from frames an
// exception must not unwind through (a C library's, a window procedure). A
// throw is kept in `failure` for the caller of Run, the first one only.
// Returns false when the run must end: the work threw, or `done` (if any)
// now holds.
[[nodiscard]] inline bool RunKeepingFailure(const std::function<void()>& work, const std::function<bool()>* done,
                                            std::exception_ptr& failure) noexcept {
  try {
    work();
    return done == nullptr || !(*done)();
  } catch (...) {
    if (!failure) failure = std::current_exception();
    return false;
  }
}

}  // namespace dovel::platform
