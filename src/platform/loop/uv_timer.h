#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/loop/loop_parts.h"

struct uv_timer_s;

namespace dovel::platform {

class UvMessageLoop;

// A Timer on a libuv timer handle. libuv frees a handle only in the callback
// of uv_close, which runs on a later turn of the loop, so the handle outlives
// this object and is cut loose from it (its data pointer cleared) the moment
// the timer is destroyed.
class UvTimer final : public TimerSettings {
 public:
  UvTimer(UvMessageLoop& loop, std::function<void()> on_tick);
  ~UvTimer() override;
  UvTimer(const UvTimer&) = delete;
  UvTimer& operator=(const UvTimer&) = delete;

 private:
  friend class UvMessageLoop;

  friend class UvTimerSlots;

  // Where the timer waits: in a slot (its due time), in the slot being
  // delivered, or not at all (its own libuv handle may still be running).
  static constexpr std::uint64_t kNotWaiting = ~std::uint64_t{0};
  static constexpr std::uint64_t kFiring = kNotWaiting - 1;

  static void OnFire(uv_timer_s* handle);
  // Runs the tick; a timer the tick left running stays on its schedule: its
  // next tick is due one interval after this one was, or at the first such
  // time still ahead when the loop came too late for that one.
  void DeliverTick();
  bool IsWaiting() const;
  void Stop();
  void SettingsChanged() override;
  // Starts the countdown to `due`, in the loop's milliseconds: in a slot for
  // long intervals, on its own libuv handle otherwise.
  void Start(std::uint64_t due);
  // Closes the handle; called by the destructor, or by the loop when it goes
  // first, after which the timer records settings and does nothing else.
  void Detach();

  UvMessageLoop* loop_;
  uv_timer_s* handle_;
  // Shared so that a tick that destroys its own timer does not destroy the
  // callable while it is still running.
  std::shared_ptr<const std::function<void()>> on_tick_;
  std::uint64_t slot_due_ = kNotWaiting;
  // When the tick now waiting (or being delivered) fell due: what the next
  // period counts from. Unlike slot_due_ it stays put when a run that is
  // returning holds the tick back.
  std::uint64_t due_ = 0;
  // Whether its own libuv handle is started: kept here so that stopping a
  // long timer never touches the handle, which a tick otherwise has no need
  // to bring into the cache.
  bool handle_started_ = false;
};

}  // namespace dovel::platform
