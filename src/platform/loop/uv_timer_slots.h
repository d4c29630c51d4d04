#pragma once

#include <cstdint>
#include <map>
#include <vector>

struct uv_timer_s;

namespace dovel::platform {

class UvMessageLoop;
class UvTimer;

// The long timers of one loop (see kCoalescedFrom) share a single libuv
// timer. They wait in slots keyed by their due time, so arming one is a push
// onto its slot's list instead of a walk through libuv's heap of every
// timer's handle, and a slot's timers tick in one wake-up, in the order they
// were armed.
//
// Each long timer may tick up to its slack after its due time, never before:
// the shared timer wakes at the last due time that still lies within the
// slack of every slot before it, and delivers all of them. The idle timers of
// many queue objects, whose due times crowd together, then share the
// thread's wake-ups; a timer with nothing due near it ticks on time.
class UvTimerSlots {
 public:
  static constexpr std::uint64_t kCoalescedFrom = 100;
  // How late a tick may come so as to share a wake-up: 1 ms at 100 ms, 2 ms
  // from 200 ms on, no more than the loop's own latency adds at times.
  static constexpr std::uint64_t kMaxSlackMs = 2;
  static std::uint64_t SlackFor(std::int32_t interval) {
    const auto slack = static_cast<std::uint64_t>(interval) / kCoalescedFrom;
    return slack < kMaxSlackMs ? slack : kMaxSlackMs;
  }

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
  struct Slot {
    std::vector<UvTimer*> timers;
    // The least slack of the timers put in it: one that leaves does not widen
    // it again, which at worst costs the rest a shared wake-up.
    std::uint64_t slack = kMaxSlackMs;
  };

  static void OnFire(uv_timer_s* handle);
  void Fire();
  void ArmHandle();
  // Sets the wake-up to the last slot that can be served without keeping an
  // earlier one past its slack; slots_ must not be empty.
  void SetWakeTime();

  UvMessageLoop& loop_;
  uv_timer_s* handle_;
  std::map<std::uint64_t, Slot> slots_;
  // The slot being delivered; a timer stopped or destroyed before its turn
  // leaves a null behind.
  std::vector<UvTimer*> firing_;
  static constexpr std::uint64_t kUnarmed = ~std::uint64_t{0};
  // The armed wake-up, and the latest it may move to while the slots it
  // serves stay within their slack.
  std::uint64_t armed_due_ = kUnarmed;
  std::uint64_t armed_latest_ = kUnarmed;
};

}  // namespace dovel::platform
