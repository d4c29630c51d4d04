#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/loop/message_loop.h"

struct HWND__;

namespace dovel::platform {

class Win32TimerQueue;

// Destroys a window, which also kills its Windows timers.
struct DestroyWin32Window {
  void operator()(HWND__* window) const noexcept;
};

// What the loop's hidden window reports to the loop.
class Win32WindowEvents {
 public:
  virtual void OnTimerMessage(std::uintptr_t id) = 0;
  virtual void OnWakeMessage() = 0;

 protected:
  ~Win32WindowEvents() = default;
};

// The message loop on a hidden message-only window, the way a form hosts
// timers on Windows: one SetTimer per running Timer, posted work through a
// private window message.
//
// Run dispatches every message of the thread, not only the window's, so that
// a single-threaded COM apartment on the same thread gets its calls and
// events while the loop runs.
//
// Each time a timer is armed it gets a fresh Windows timer identifier: a
// WM_TIMER already queued for an earlier arming, or for a destroyed timer,
// then matches nothing and is dropped. After each tick a still-running timer
// is set again, so here the next period counts from the tick: late ticks
// add up, where the POSIX loop keeps each timer on its own schedule.
//
// Windows timers run no shorter than 10 ms and fall due on the system's
// timer resolution (about 15.6 ms). Windows makes a WM_TIMER only when no
// posted message waits; so that work which keeps posting more cannot keep
// the ticks away, the ticks already due run after each batch of posted work.
//
// Work is never run inside other work. When a tick pumps messages (an
// outgoing COM call does), WM_TIMER and the wake-up for posted work may be
// dispatched from inside it; they are held and run after the tick returns.
// Likewise a message pump of someone else's that dispatches them while no run
// is in progress, or after Stop, holds them for the next run.
//
// A host driving the loop itself has no descriptor to poll: it waits on the
// thread's message queue (MsgWaitForMultipleObjectsEx with QS_ALLINPUT and
// MWMO_INPUTAVAILABLE), which WM_TIMER and the wake-up for posted work both
// end, for at most TimeUntilDue. That answer is 0 when work is due that no
// message announces any more (a tick or wake-up held by the rules above).
// Otherwise it counts to the next armed timer's interval (at least the 10 ms
// Windows keeps to) on the steady clock. Windows raises the WM_TIMER on its
// own timer's resolution after that; until it does, the answer is 1, so the
// host waits a millisecond at a time, or until the message wakes it.
//
// The loop must not be destroyed from inside its own ticks or posted work,
// nor while another thread may still Post to it. It belongs to the thread
// that made it, which must also destroy it (its window does).
class Win32MessageLoop final : public MessageLoop, private Win32WindowEvents {
 public:
  // Throws std::system_error with the Windows error code when the window
  // cannot be made.
  Win32MessageLoop();
  ~Win32MessageLoop() override;
  Win32MessageLoop(const Win32MessageLoop&) = delete;
  Win32MessageLoop& operator=(const Win32MessageLoop&) = delete;

  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;
  void Run() override;
  void RunUntil(const std::function<bool()>& done) override;
  void Stop() override;
  // Windows has no descriptor for a thread's message queue.
  [[nodiscard]] int PollDescriptor() override { return -1; }
  [[nodiscard]] int TimeUntilDue() const override;
  // Dispatches the thread's messages until none is waiting; posted work runs
  // in one batch, what it posts waits for the next run.
  void RunDue() override;
  void Post(std::function<void()> work) override;
  bool IsOwnThread() const override;

  // The hidden window, for code that needs to address it (tests).
  HWND__* window() const { return window_.get(); }

 private:
  enum class Mode { kIdle, kRunning, kRunningDue };

  // Called by the window procedure.
  void OnTimerMessage(std::uintptr_t id) override;
  void OnWakeMessage() override;

  bool CanRunWorkNow() const { return mode_ != Mode::kIdle && !halted_ && work_depth_ == 0; }
  void RunHeldWork();
  void RunPostedBatch();
  void DeliverTick(std::uint64_t serial);
  // Runs one tick or posted work; a throw stops the run and is kept for the
  // caller of Run, because it must not unwind through the window procedure.
  void RunWork(const std::function<void()>& work);
  void Halt() { halted_ = true; }
  void FinishRun();
  void Wake();
  // Dispatches one message; false for WM_QUIT, which is put back for the
  // thread's outer loop and ends the run.
  [[nodiscard]] bool Dispatch(const void* message);
  void DispatchDueTicks();

  // Declared before the timers, which need it until they are closed.
  std::unique_ptr<HWND__, DestroyWin32Window> window_;
  const std::thread::id owner_;
  // Shared with the timers, which may outlive the loop.
  std::shared_ptr<Win32TimerQueue> timers_;
  bool ticks_held_ = false;

  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
  // Set while a wake-up message is queued, so a burst of posts costs one.
  std::atomic<bool> wake_queued_{false};
  // A wake-up that arrived when work could not run.
  bool wake_held_ = false;
  bool batch_done_ = false;

  Mode mode_ = Mode::kIdle;
  int work_depth_ = 0;
  const std::function<bool()>* done_ = nullptr;
  bool halted_ = false;
  std::exception_ptr failure_;
};

}  // namespace dovel::platform
