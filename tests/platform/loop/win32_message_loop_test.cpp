// What only the loop on a hidden window does, on real Windows timers and
// messages: the message-only window, WM_TIMER and the wake-up met by other
// message pumps, WM_QUIT, and ticks against work that keeps posting. The
// contract every loop keeps is tested in real_loop_contract_test.cpp. The
// tests wait for events, never for durations: the watchdog only ends a run
// that has already failed.
#include "platform/loop/win32_message_loop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/loop/real_loop_support.h"

namespace dovel::platform {
namespace {

using testing::RunUntilStopped;
using testing::RunWithin;

// A thread timer outside any loop: counts its own WM_TIMERs, which only a
// message pump of the thread delivers.
class ThreadTimer {
 public:
  explicit ThreadTimer(UINT interval) {
    fired_ = 0;
    id_ = SetTimer(nullptr, 0, interval, &ThreadTimer::OnFire);
  }
  ~ThreadTimer() { KillTimer(nullptr, id_); }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;
  int fired() const { return fired_; }
  bool valid() const { return id_ != 0; }

 private:
  static void CALLBACK OnFire(HWND, UINT, UINT_PTR, DWORD) { ++fired_; }
  static inline int fired_ = 0;
  UINT_PTR id_;
};

// Someone else's message pump: dispatches the thread's messages until the
// thread timer has fired `times` more times, then drains what is left.
void ForeignPump(ThreadTimer& clock, int times) {
  const int until = clock.fired() + times;
  MSG msg;
  while (clock.fired() < until && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

TEST(Win32MessageLoopTest, TheHostIsAMessageOnlyWindowCalledMessageQueue) {
  Win32MessageLoop loop;
  HWND window = reinterpret_cast<HWND>(loop.window());
  ASSERT_NE(window, nullptr);
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  EXPECT_EQ(std::wstring(caption), L"Message Queue");
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, nullptr, L"Message Queue"), window);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(loop.PollDescriptor(), -1);
}

// Waits, for as long as the watchdog would, until a WM_TIMER of `window` is
// in the thread's queue; leaves it there.
bool WmTimerQueued(HWND window) {
  MSG msg;
  for (int i = 0; i < 100; ++i) {
    if (PeekMessageW(&msg, window, WM_TIMER, WM_TIMER, PM_NOREMOVE)) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_TIMER);
  }
  return false;
}

// Each arming gets a fresh Windows timer identifier, and the window forgets
// its loop before it goes, so a WM_TIMER still queued for a destroyed timer,
// or for a timer of a destroyed loop, matches nothing.
TEST(Win32TimerTest, WmTimersLeftQueuedForADestroyedTimerOrLoopTickNothing) {
  std::unique_ptr<Timer> orphan;
  {
    Win32MessageLoop loop;
    HWND window = reinterpret_cast<HWND>(loop.window());
    auto dropped = loop.CreateTimer([] { FAIL() << "a destroyed timer ticked"; });
    dropped->SetInterval(10);
    dropped->SetEnabled(true);
    ASSERT_TRUE(WmTimerQueued(window));
    dropped.reset();
    loop.RunDue();  // dispatches what was queued for it
    orphan = loop.CreateTimer([] { FAIL() << "ticked after its loop was gone"; });
    orphan->SetInterval(10);
    orphan->SetEnabled(true);
    ASSERT_TRUE(WmTimerQueued(window));
  }
  ThreadTimer clock(20);
  ForeignPump(clock, 2);
  orphan.reset();
}

// Windows delivers WM_TIMER to any message pump of the thread, including one
// that a tick runs itself (an outgoing COM call pumps). Neither the tick's
// own timer nor any other may start a tick inside it; the other timer's tick
// is delivered once the tick returns.
TEST(Win32TimerTest, ATickThatPumpsMessagesIsNotReenteredAndOtherTicksWaitForIt) {
  Win32MessageLoop loop;
  int depth = 0;
  int deepest = 0;
  int pumping_ticks = 0;
  int other_ticks = 0;
  int other_ticks_before_pump = -1;
  int other_ticks_after_pump = -1;
  std::unique_ptr<Timer> pumping;
  pumping = loop.CreateTimer([&] {
    deepest = std::max(deepest, ++depth);
    if (++pumping_ticks == 1) {
      other_ticks_before_pump = other_ticks;
      // Long enough for both 10 ms timers to fall due several times.
      ThreadTimer clock(30);
      ForeignPump(clock, 3);
      other_ticks_after_pump = other_ticks;
    }
    --depth;
  });
  auto other = loop.CreateTimer([&] {
    deepest = std::max(deepest, ++depth);
    ++other_ticks;
    --depth;
  });
  pumping->SetInterval(10);
  other->SetInterval(10);
  pumping->SetEnabled(true);
  other->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return pumping_ticks >= 3 && other_ticks >= 3; }));
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(other_ticks_after_pump, other_ticks_before_pump);
}

TEST(Win32MessageLoopTest, WorkDispatchedByAPumpOutsideAnyRunWaitsForTheNextRun) {
  Win32MessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  bool ran = false;
  loop.Post([&] { ran = true; });
  ThreadTimer clock(30);
  ASSERT_TRUE(clock.valid());
  ForeignPump(clock, 3);  // takes the wake-up and several WM_TIMERs off the queue
  EXPECT_FALSE(ran);
  EXPECT_EQ(ticks, 0);
  // The wake-up message is gone: only the loop's memory of it runs the work.
  loop.RunDue();
  EXPECT_TRUE(ran);
  EXPECT_GE(ticks, 1);
}

// Once another pump has taken the messages, nothing in the queue announces
// the held work to a host: the time until due says it is due now.
TEST(Win32MessageLoopTest, WorkHeldFromAPumpOutsideAnyRunIsDueForAHost) {
  Win32MessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  EXPECT_GT(loop.TimeUntilDue(), 0);
  EXPECT_LE(loop.TimeUntilDue(), 10 + testing::kRoundedUpMs);
  ThreadTimer clock(30);
  ASSERT_TRUE(clock.valid());
  ForeignPump(clock, 3);
  EXPECT_EQ(loop.TimeUntilDue(), 0);
  loop.RunDue();
  EXPECT_GE(ticks, 1);
  EXPECT_GT(loop.TimeUntilDue(), 0);
  timer->SetEnabled(false);
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
}

TEST(Win32MessageLoopTest, RunDispatchesTheMessagesOfEveryWindowOfTheThread) {
  Win32MessageLoop loop;
  static std::atomic<int> received{0};
  received = 0;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
    if (message == WM_APP + 7) {
      ++received;
      return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  };
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"DovelLoopTestNeighbour";
  RegisterClassExW(&window_class);
  HWND neighbour = CreateWindowExW(0, L"DovelLoopTestNeighbour", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(neighbour, nullptr);
  std::thread([&] { PostMessageW(neighbour, WM_APP + 7, 0, 0); }).join();
  // Nothing of the loop's own wakes the run: only dispatching the
  // neighbour's message can end it before the watchdog.
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return received >= 1 && ticks >= 1; }));
  DestroyWindow(neighbour);
  UnregisterClassW(L"DovelLoopTestNeighbour", GetModuleHandleW(nullptr));
}

// Windows makes a WM_TIMER only when no posted message is waiting, so work
// that keeps posting more would keep every tick away. The watchdog is a
// thread, so it ends such a run too.
TEST(Win32MessageLoopTest, WorkThatKeepsPostingMoreDoesNotStarveTheTimers) {
  Win32MessageLoop loop;
  int ticks = 0;
  std::function<void()> again = [&] {
    if (ticks < 3) loop.Post(again);
  };
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  loop.Post(again);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 3; }));
}

TEST(Win32MessageLoopTest, QuitMessageEndsTheRunAndStaysForTheThreadsOuterLoop) {
  Win32MessageLoop loop;
  bool after_quit_ran = false;
  loop.Post([] { PostQuitMessage(3); });
  ASSERT_TRUE(RunUntilStopped(loop));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  loop.Post([&] { after_quit_ran = true; });
  EXPECT_TRUE(RunWithin(loop, [&] { return after_quit_ran; }));
}

}  // namespace
}  // namespace dovel::platform
