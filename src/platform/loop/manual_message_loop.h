#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock/settable_clock.h"
#include "platform/loop/message_loop.h"

namespace dovel::platform {

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

  int PollDescriptor() override { return -1; }
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
  std::int64_t Now() const { return now_; }
  // Live timers, and those enabled with a positive interval.
  std::size_t TimerCount() const { return timers_.size(); }
  std::size_t RunningTimerCount() const;
  // Milliseconds until the next tick is due (0 if one is already due), or -1
  // when no timer is running.
  std::int64_t MillisecondsToNextTick() const;
  std::size_t PostedCount() const;

 private:
  class ManualTimer;
  friend class ManualTimer;

  ManualTimer* NextDue(std::int64_t no_later_than) const;
  void MoveTimeTo(std::int64_t when);
  void Tick(ManualTimer& timer);
  std::function<void()> TakePosted();
  void RunOne(const std::function<void()>& work);

  SettableClock* const clock_;
  const std::thread::id owner_;
  std::int64_t now_ = 0;
  // In creation order, which breaks ties between ticks due together.
  std::vector<ManualTimer*> timers_;
  int work_depth_ = 0;
  bool running_ = false;
  bool stop_requested_ = false;

  mutable std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace dovel::platform
