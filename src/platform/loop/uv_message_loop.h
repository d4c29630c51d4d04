#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/loop/message_loop.h"
#include "platform/loop/uv_handle.h"
#include "platform/loop/uv_timer_queue.h"

struct uv_async_s;

namespace dovel::platform {

// The message loop on libuv: a private uv_loop_t per loop, its timers in one
// queue (UvTimerQueue) woken by a single libuv timer, posted work through a
// uv_async_t.
//
// To a host driving the loop itself, PollDescriptor hands out libuv's backend
// descriptor, which the async handle makes readable, and TimeUntilDue the
// wait until the timer queue's next wake-up.
//
// The loop must not be destroyed from inside its own ticks or posted work,
// nor while another thread may still Post to it.
class UvMessageLoop final : public MessageLoop, private UvTimerQueue::Runner {
 public:
  // Throws std::system_error when libuv cannot supply the loop or its
  // handles.
  UvMessageLoop();
  ~UvMessageLoop() override;
  UvMessageLoop(const UvMessageLoop&) = delete;
  UvMessageLoop& operator=(const UvMessageLoop&) = delete;

  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;
  void Run() override;
  void RunUntil(const std::function<bool()>& done) override;
  void Stop() override;
  [[nodiscard]] int PollDescriptor() override;
  [[nodiscard]] int TimeUntilDue() const override;
  void RunDue() override;
  void Post(std::function<void()> work) override;
  bool IsOwnThread() const override;

 private:
  enum class Mode { kIdle, kRunning, kRunningDue };

  static void OnPosted(uv_async_s* signal);

  bool MayRunTick() const override { return MayRunWork(); }
  void RunTick(const std::function<void()>& tick) override { RunWork(tick); }

  bool MayRunWork() const { return mode_ != Mode::kIdle && !halted_; }
  void RunPostedWork();
  // Runs one tick or posted work; a throw stops the run and is kept for the
  // caller of Run, because it must not unwind through libuv's C frames.
  void RunWork(const std::function<void()>& work);
  void Halt();
  void FinishRun();
  // One pass of libuv's loop, blocking until there is work or not.
  void Turn(bool wait_for_work);

  // Declared first so that it goes last: closing it runs the close callbacks
  // of the handles closed before it.
  UvLoop loop_;
  UvHandle<uv_async_s> posted_signal_;
  std::shared_ptr<UvTimerQueue> timers_;
  const std::thread::id owner_;

  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;

  Mode mode_ = Mode::kIdle;
  const std::function<bool()>* done_ = nullptr;
  // Set when the current run must return: ticks and posted work reached
  // after it wait for the next run.
  bool halted_ = false;
  std::exception_ptr failure_;
};

}  // namespace dovel::platform
