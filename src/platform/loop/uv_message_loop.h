#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/loop/message_loop.h"

struct uv_loop_s;
struct uv_handle_s;
struct uv_async_s;
struct uv_poll_s;

namespace dovel::platform {

class UvTimer;
class UvTimerSlots;

// The message loop on libuv: a private uv_loop_t per loop, timers on libuv
// timer handles, posted work through a uv_async_t.
//
// A host driving the loop through PollDescriptor polls the libuv backend
// descriptor. Posted work wakes it through the async handle; for ticks a timer
// descriptor registered in the same backend is kept armed for the next due
// tick, set up on the first call to PollDescriptor so that loops that are only
// ever Run pay nothing for it.
//
// The loop must not be destroyed from inside its own ticks or posted work,
// nor while another thread may still Post to it.
class UvMessageLoop final : public MessageLoop {
 public:
  // Throws std::system_error when the system cannot supply the loop's
  // descriptors.
  UvMessageLoop();
  ~UvMessageLoop() override;
  UvMessageLoop(const UvMessageLoop&) = delete;
  UvMessageLoop& operator=(const UvMessageLoop&) = delete;

  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;
  void Run() override;
  void RunUntil(const std::function<bool()>& done) override;
  void Stop() override;
  // -1 if the timer descriptor for ticks cannot be made.
  int PollDescriptor() override;
  void RunDue() override;
  void Post(std::function<void()> work) override;
  bool IsOwnThread() const override;

 private:
  friend class UvTimer;
  friend class UvTimerSlots;
  enum class Mode { kIdle, kRunning, kRunningDue };

  static void OnPosted(uv_async_s* signal);
  static void OnWakeTimer(uv_poll_s* watch, int status, int events);
  static void CloseForShutdown(uv_handle_s* handle, void* loop);

  void RunPostedWork();
  // Runs one tick or posted work; a throw stops the run and is kept for the
  // caller of Run, because it must not unwind through libuv's C frames.
  void RunWork(const std::function<void()>& work);
  void Halt();
  void FinishRun();
  // The time now in the loop's milliseconds, rounded up, unlike the loop's
  // cached time, which is stale when a timer is armed late in a tick or while
  // the loop is not being run: a fresh countdown from it is never short.
  static std::uint64_t MillisecondsRoundedUp();
  void TimersChanged();
  bool StartWakeTimer();
  // `only_if_earlier`: leave a wake-up that comes too early alone; the host
  // then finds nothing due and the run that follows sets it right. Saves a
  // system call on every re-arm.
  void ArmWakeTimer(bool only_if_earlier);
  void RegisterWatchers();

  uv_loop_s* loop_ = nullptr;
  uv_async_s* posted_signal_ = nullptr;
  std::unique_ptr<UvTimerSlots> slots_;
  int wake_timer_fd_ = -1;
  // In libuv's milliseconds; kNoWakeUp when disarmed or already expired.
  std::uint64_t wake_deadline_ = kNoWakeUp;
  static constexpr std::uint64_t kNoWakeUp = ~std::uint64_t{0};
  bool watchers_unregistered_ = false;
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
