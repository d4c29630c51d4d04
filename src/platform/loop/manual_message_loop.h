#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock/settable_clock.h"
#include "platform/loop/message_loop.h"

namespace dovel::platform {

class ManualTimerQueue;

// A message loop for tests, on virtual time in milliseconds that moves only
// when the test says so. Timers keep every rule of the real loop except its
// slack for long intervals: here every tick runs the moment it falls due,
// unless other work holds it up. Ticks due at the same moment run in the
// order their timers were made.
//
// Given a SettableClock, the loop moves it on in step with virtual time, so a
// tick sees the wall clock at the moment it fell due.
//
// Like the real loop it does not nest: Run, RunUntil, RunDue and RunPosted
// called from inside a tick or posted work return at once. Exceptions from
// ticks and posted work propagate to the caller as they are.
class ManualMessageLoop final : public MessageLoop {
 public:
  explicit ManualMessageLoop(SettableClock* clock = nullptr);
  ~ManualMessageLoop() override;
  ManualMessageLoop(const ManualMessageLoop&) = delete;
  ManualMessageLoop& operator=(const ManualMessageLoop&) = delete;

  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;

  // One piece of work at a time: posted work first, otherwise virtual time
  // jumps to the next due tick and that tick runs. Returns on Stop, when
  // `done` holds, or when nothing is left that could ever run (nothing posted
  // and no timer running), where a real loop would wait for ever.
  void Run() override;
  void RunUntil(const std::function<bool()>& done) override;
  void Stop() override;

  // No descriptor: the test is the host, and knows when it posts.
  [[nodiscard]] int PollDescriptor() override { return -1; }
  // Milliseconds of virtual time until the next tick is due (0 if one is
  // already due), or kNoTickDue when no timer is running.
  [[nodiscard]] int TimeUntilDue() const override;
  // Posted work (as RunPosted) and ticks already due; time does not move.
  void RunDue() override;

  void Post(std::function<void()> work) override;
  bool IsOwnThread() const override;

  // Moves virtual time on by `milliseconds` (negative counts as 0), running
  // every tick that falls due on the way at the moment it falls due, in due
  // order. Posted work is left for RunPosted or Run.
  //
  // Called from inside a tick or posted work, it only moves time on: that is
  // how a test makes the work take that long. A timer that fell due meanwhile
  // ticks once, late, when the outer call gets to it, and then goes on at the
  // next due time of its own schedule still ahead.
  void AdvanceMilliseconds(std::int64_t milliseconds);

  // Runs posted work until none is left, including work posted meanwhile;
  // returns how many pieces ran.
  std::size_t RunPosted();

  // Virtual milliseconds since the loop was made.
  std::int64_t Now() const;
  // Live timers, and those enabled with a positive interval.
  std::size_t TimerCount() const;
  std::size_t RunningTimerCount() const;
  std::size_t PostedCount() const;

 private:
  void MoveTimeTo(std::int64_t when);
  // Runs the tick that is due first, if one is due no later than
  // `no_later_than`; false if none is.
  [[nodiscard]] bool TickDue(std::int64_t no_later_than);
  std::function<void()> TakePosted();
  void RunOne(const std::function<void()>& work);

  SettableClock* const clock_;
  const std::thread::id owner_;
  // Shared with the timers, which may outlive the loop.
  const std::shared_ptr<ManualTimerQueue> timers_;
  int work_depth_ = 0;
  bool running_ = false;
  bool stop_requested_ = false;

  mutable std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace dovel::platform
