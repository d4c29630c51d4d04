#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/loop/uv_handle.h"

struct uv_loop_s;
struct uv_timer_s;

namespace dovel::platform {

// The one timer queue of a libuv loop. Every Timer of the loop waits here,
// in a slot keyed by its due time in milliseconds of the monotonic clock, so
// arming one is a push onto its slot's list; a slot's timers tick in one
// wake-up, in the order they were armed. A single libuv timer wakes a run
// of the loop for the queue, and TimeUntilDue tells a host that drives the
// loop itself when to call it.
//
// A timer of 100 ms or more may tick up to its slack after its due time,
// never before: the queue wakes at the last due time that still lies within
// the slack of every slot before it, and delivers all of them. The idle
// timers of many queue objects, whose due times crowd together, then share
// the thread's wake-ups; a timer with nothing due near it ticks on time, and
// shorter timers, whose slack is 0, always do.
//
// The loop owns the queue with its timers: a timer that outlives the loop
// keeps the queue, closed, and then never ticks.
class UvTimerQueue {
 public:
  static constexpr std::uint64_t kCoalescedFrom = 100;
  // How late a tick may come so as to share a wake-up: 1 ms at 100 ms, 2 ms
  // from 200 ms on, no more than the loop's own latency adds at times.
  static constexpr std::uint64_t kMaxSlackMs = 2;
  static std::uint64_t SlackFor(std::int32_t interval) {
    const auto slack = static_cast<std::uint64_t>(interval) / kCoalescedFrom;
    return slack < kMaxSlackMs ? slack : kMaxSlackMs;
  }

  // What the queue needs of the loop it serves.
  class Runner {
   public:
    // False while a tick may not start: no run is in progress, or the one in
    // progress is returning. Ticks still due wait for the next run.
    virtual bool MayRunTick() const = 0;
    // Runs one tick as the loop runs all its work.
    virtual void RunTick(const std::function<void()>& tick) = 0;

   protected:
    ~Runner() = default;
  };

  // What the queue keeps of one timer. The timer holds it; only the queue
  // changes it.
  struct Entry {
    explicit Entry(std::function<void()> on_tick)
        : tick(std::make_shared<const std::function<void()>>(std::move(on_tick))) {}

    // Shared so that a tick that destroys its own timer does not destroy the
    // callable while it is still running.
    std::shared_ptr<const std::function<void()>> tick;
    std::int32_t interval = 0;
    // When the tick now waiting (or being delivered) fell due: what the next
    // period counts from. Unlike `slot` it stays put when a run that is
    // returning holds the tick back.
    std::uint64_t due = 0;
    // The key of the slot it waits in, or one of the marks below.
    std::uint64_t slot = kNotWaiting;
  };
  static constexpr std::uint64_t kNotWaiting = ~std::uint64_t{0};
  // In the slot being delivered, waiting for its turn.
  static constexpr std::uint64_t kFiring = kNotWaiting - 1;
  // Its tick is running.
  static constexpr std::uint64_t kDelivering = kNotWaiting - 2;

  // Throws std::system_error when libuv refuses the wake-up timer.
  UvTimerQueue(uv_loop_s& loop, Runner& runner);
  UvTimerQueue(const UvTimerQueue&) = delete;
  UvTimerQueue& operator=(const UvTimerQueue&) = delete;

  // A fresh countdown of `interval` (positive) milliseconds from now.
  void Start(Entry& entry, std::int32_t interval);
  // No effect on an entry that is not waiting.
  void Stop(Entry& entry);
  // The entry's timer is going: it is stopped, and a tick of it in progress
  // does not re-arm it.
  void Forget(Entry& entry);

  // Milliseconds until the next wake-up for ticks, rounded up; 0 when a tick
  // is due, -1 when no timer is waiting or the queue is closed.
  [[nodiscard]] int TimeUntilDue() const;
  // Before a run: makes ticks that are due already run in its first pass,
  // such as those a returning run held back, rather than a millisecond on.
  void WakeIfDue();

  // The loop is going: the wake-up timer closes, waiting timers are dropped,
  // and from now on the queue ignores every call.
  void Close();

 private:
  struct Slot {
    std::vector<Entry*> entries;
    // The least slack of the timers put in it: one that leaves does not widen
    // it again, which at worst costs the rest a shared wake-up.
    std::uint64_t slack = kMaxSlackMs;
  };
  using Slots = std::map<std::uint64_t, Slot>;
  struct WakeUp {
    std::uint64_t due;
    // The latest it may move to while the slots it serves stay within their
    // slack.
    std::uint64_t latest;
  };

  // Milliseconds of the monotonic clock, which libuv's time counts too.
  static std::uint64_t NowMs();
  // Rounded up: a countdown from it is never short.
  static std::uint64_t NowMsRoundedUp();

  static void OnFire(uv_timer_s* handle);
  void Fire();
  // Runs the tick; a timer the tick left running stays on its schedule: its
  // next tick is due one interval after this one was, or at the first such
  // time after `now` when the loop came too late for that one.
  void Deliver(Entry& entry, std::uint64_t now);
  void Schedule(Entry& entry, std::uint64_t key);
  // The last slot that can be served without keeping an earlier one past its
  // slack; slots_ must not be empty.
  WakeUp NextWakeUp() const;
  void ArmWakeUp();

  uv_loop_s* loop_;
  Runner* runner_;
  UvHandle<uv_timer_s> wake_up_;
  Slots slots_;
  // Slots' nodes kept for reuse, with their lists' storage, so that a timer
  // re-armed on every tick allocates nothing.
  std::vector<Slots::node_type> spare_slots_;
  // The slot being delivered, from firing_next_ on; a timer stopped or
  // destroyed before its turn leaves a null behind.
  std::vector<Entry*> firing_;
  std::size_t firing_next_ = 0;
  // The entry whose tick is running; null once its timer is destroyed.
  Entry* delivering_ = nullptr;
  bool in_fire_ = false;
  bool closed_ = false;
  static constexpr std::uint64_t kUnarmed = ~std::uint64_t{0};
  // The armed wake-up. Timers stopped since it was armed may leave it
  // earlier than the slots now need (a wake-up for nothing arms again) or
  // later, but never past the slack of a tick still waiting.
  WakeUp armed_{kUnarmed, kUnarmed};
};

}  // namespace dovel::platform
