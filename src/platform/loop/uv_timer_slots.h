#pragma once

#include <cstdint>
#include <map>
#include <vector>

struct uv_timer_s;

namespace dovel::platform {

class UvMessageLoop;
class UvTimer;

// The long timers of one loop (see kCoalescedFrom) share a single libuv
// timer. They wait in slots keyed by their due time on the coarse grid, so
// arming one is a push onto its slot's list instead of a walk through
// libuv's heap of every timer's handle, and a slot's timers tick in one
// wake-up, in the order they were armed.
class UvTimerSlots {
 public:
  // Timers of this interval or longer fall due on a grid as coarse as a
  // Windows timer's resolution (about 15.6 ms): never early, at most one
  // step late.
  static constexpr std::uint64_t kCoalescedFrom = 100;
  static constexpr std::uint64_t kGridMs = 16;

  explicit UvTimerSlots(UvMessageLoop& loop);
  UvTimerSlots(const UvTimerSlots&) = delete;
  UvTimerSlots& operator=(const UvTimerSlots&) = delete;

  // `due` in the loop's milliseconds; the timer must not be scheduled.
  void Schedule(UvTimer& timer, std::uint64_t due);
  // No effect on a timer that is not waiting.
  void Unschedule(UvTimer& timer);
  // The shared libuv timer: a UV_TIMER handle with no timer object behind it,
  // which the loop's shutdown closes itself.
  uv_timer_s* handle() const { return handle_; }

 private:
  static void OnFire(uv_timer_s* handle);
  void Fire();
  void ArmHandle();

  UvMessageLoop& loop_;
  uv_timer_s* handle_;
  std::map<std::uint64_t, std::vector<UvTimer*>> slots_;
  // The slot being delivered; a timer stopped or destroyed before its turn
  // leaves a null behind.
  std::vector<UvTimer*> firing_;
  std::uint64_t armed_due_ = ~std::uint64_t{0};
};

}  // namespace dovel::platform
