// The loop on a hidden window, on real Windows timers and messages. The tests
// wait for events, never for durations: a 10 s watchdog only turns a hang
// into a failure.
#include "platform/loop/win32_message_loop.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/loop/real_loop_support.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using testing::kWatchdogMilliseconds;
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

TEST(Win32TimerTest, EnabledTimerTicksRepeatedlyOnTheLoopThread) {
  Win32MessageLoop loop;
  int ticks = 0;
  bool all_on_own_thread = true;
  const auto test_thread = std::this_thread::get_id();
  auto timer = loop.CreateTimer([&] {
    ++ticks;
    all_on_own_thread = all_on_own_thread && loop.IsOwnThread() && std::this_thread::get_id() == test_thread;
  });
  EXPECT_EQ(timer->Interval(), 0);
  EXPECT_FALSE(timer->Enabled());
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 3; }));
  EXPECT_TRUE(all_on_own_thread);
}

TEST(Win32TimerTest, DisabledZeroOrNegativeIntervalAndDisabledInsideATickGiveNoFurtherTicks) {
  Win32MessageLoop loop;
  int never_ticks = 0;
  auto disabled = loop.CreateTimer([&] { ++never_ticks; });
  disabled->SetInterval(10);
  auto zero = loop.CreateTimer([&] { ++never_ticks; });
  zero->SetEnabled(true);
  auto negative = loop.CreateTimer([&] { ++never_ticks; });
  negative->SetInterval(-5);
  negative->SetEnabled(true);
  int once_ticks = 0;
  std::unique_ptr<Timer> once;
  once = loop.CreateTimer([&] {
    ++once_ticks;
    once->SetEnabled(false);
  });
  once->SetInterval(20);
  once->SetEnabled(true);
  // Keep the loop running for ten more periods of `once`.
  int other_ticks = 0;
  auto other = loop.CreateTimer([&] { ++other_ticks; });
  other->SetInterval(20);
  other->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return other_ticks >= 10; }));
  EXPECT_EQ(once_ticks, 1);
  EXPECT_FALSE(once->Enabled());
  EXPECT_EQ(never_ticks, 0);
}

// `slow` (100 ms) is restarted in fast's first tick (at 60 ms). A fresh
// countdown of 100 ms or more from there puts slow's next tick after fast's
// second (60 ms after its first); no restart, or one counted from the
// original start, puts it before. Only the order is asserted.
std::vector<std::string> FirstThreeTicksWithRestart(const std::function<void(Timer&)>& restart) {
  Win32MessageLoop loop;
  std::vector<std::string> events;
  std::unique_ptr<Timer> slow;
  auto fast = loop.CreateTimer([&] {
    events.push_back("fast");
    if (events.size() == 1) restart(*slow);
  });
  slow = loop.CreateTimer([&] { events.push_back("slow"); });
  fast->SetInterval(60);
  slow->SetInterval(100);
  fast->SetEnabled(true);
  slow->SetEnabled(true);
  if (!RunWithin(loop, [&] { return events.size() >= 3; })) return events;
  events.resize(3);
  return events;
}

TEST(Win32TimerTest, ReEnablingOrChangingTheIntervalRestartsTheCountdown) {
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) {
                slow.SetEnabled(false);
                slow.SetEnabled(true);
              }),
              ElementsAre("fast", "fast", "slow"));
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) { slow.SetInterval(110); }),
              ElementsAre("fast", "fast", "slow"));
}

TEST(Win32TimerTest, SettingTheValuesItAlreadyHasLeavesTheCountdownRunning) {
  Win32MessageLoop loop;
  int slow_ticks = 0;
  auto slow = loop.CreateTimer([&] { ++slow_ticks; });
  slow->SetInterval(100);
  slow->SetEnabled(true);
  // Every 20 ms: were either setter to restart the countdown, `slow` would
  // never reach its 100 ms and the watchdog would end the run.
  auto nudger = loop.CreateTimer([&] {
    slow->SetEnabled(true);
    slow->SetInterval(100);
  });
  nudger->SetInterval(20);
  nudger->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return slow_ticks >= 2; }));
}

TEST(Win32TimerTest, TimerDestroyedInsideATickNeverTicksAgain) {
  Win32MessageLoop loop;
  int self_ticks = 0;
  int victim_ticks = 0;
  std::unique_ptr<Timer> self;
  std::unique_ptr<Timer> victim;
  self = loop.CreateTimer([&] {
    ++self_ticks;
    self.reset();
    victim.reset();
    ++self_ticks;  // the callable outlives its timer until it returns
  });
  victim = loop.CreateTimer([&] {
    ++victim_ticks;
    // Whichever of the two comes first destroys both.
    self.reset();
    victim.reset();
  });
  self->SetInterval(20);
  victim->SetInterval(20);
  self->SetEnabled(true);
  victim->SetEnabled(true);
  int other_ticks = 0;
  auto other = loop.CreateTimer([&] { ++other_ticks; });
  other->SetInterval(20);
  other->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return other_ticks >= 5; }));
  EXPECT_EQ(self_ticks + victim_ticks * 2, 2) << "exactly one tick of one of them";
}

TEST(Win32TimerTest, TimerDestroyedWhileTheLoopIsNotRunningAndTimerOutlivingItsLoop) {
  std::unique_ptr<Timer> survivor;
  {
    Win32MessageLoop loop;
    auto dropped = loop.CreateTimer([] { FAIL() << "a destroyed timer ticked"; });
    dropped->SetInterval(10);
    dropped->SetEnabled(true);
    // Let its WM_TIMER fall due, then destroy it with the message waiting.
    HWND window = reinterpret_cast<HWND>(loop.window());
    MSG msg;
    for (int i = 0; i < 100 && !PeekMessageW(&msg, window, WM_TIMER, WM_TIMER, PM_NOREMOVE); ++i) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_TIMER);
    }
    dropped.reset();
    int ticks = 0;
    auto witness = loop.CreateTimer([&] { ++ticks; });
    witness->SetInterval(30);
    witness->SetEnabled(true);
    ASSERT_TRUE(RunWithin(loop, [&] { return ticks >= 2; }));
    survivor = loop.CreateTimer([] { FAIL() << "ticked after its loop was gone"; });
    survivor->SetInterval(5);
    survivor->SetEnabled(true);
  }
  survivor->SetEnabled(false);
  survivor->SetInterval(7);
  survivor->SetEnabled(true);
  EXPECT_EQ(survivor->Interval(), 7);
  EXPECT_TRUE(survivor->Enabled());
  // A pump after the loop is gone delivers nothing of it.
  ThreadTimer clock(20);
  ForeignPump(clock, 2);
  survivor.reset();
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

TEST(Win32MessageLoopTest, PostFromAnotherThreadWakesTheRunAndKeepsOrder) {
  Win32MessageLoop loop;
  std::atomic<bool> loop_running{false};
  std::vector<int> order;
  bool all_on_own_thread = true;
  bool poster_was_own_thread = true;
  loop.Post([&] { loop_running = true; });
  std::thread poster([&] {
    // Post only once the loop has gone idle in its run, so the posts must
    // wake it.
    while (!loop_running) std::this_thread::yield();
    poster_was_own_thread = loop.IsOwnThread();
    for (int i = 0; i < 1000; ++i) {
      loop.Post([&, i] {
        order.push_back(i);
        all_on_own_thread = all_on_own_thread && loop.IsOwnThread();
      });
    }
    loop.Post({});  // empty work is ignored
  });
  const bool done = RunWithin(loop, [&] { return order.size() == 1000; });
  poster.join();
  ASSERT_TRUE(done);
  std::vector<int> expected(1000);
  for (int i = 0; i < 1000; ++i) expected[i] = i;
  EXPECT_THAT(order, ElementsAreArray(expected));
  EXPECT_TRUE(all_on_own_thread);
  EXPECT_FALSE(poster_was_own_thread);
}

// Windows makes a WM_TIMER only when no posted message is waiting, so work
// that keeps posting more would keep every tick away.
TEST(Win32MessageLoopTest, WorkThatKeepsPostingMoreDoesNotStarveTheTimers) {
  Win32MessageLoop loop;
  std::atomic<bool> gave_up{false};
  int ticks = 0;
  std::function<void()> again = [&] {
    if (ticks < 3 && !gave_up) loop.Post(again);
  };
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  // The loop's own watchdog is a timer too: this one is a thread.
  std::mutex mutex;
  std::condition_variable finished_changed;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    finished_changed.wait_for(lock, std::chrono::milliseconds(kWatchdogMilliseconds), [&] { return finished; });
    gave_up = true;
  });
  loop.Post(again);
  loop.RunUntil([&] { return ticks >= 3 || gave_up; });
  {
    std::lock_guard lock(mutex);
    finished = true;
  }
  finished_changed.notify_one();
  watchdog.join();
  EXPECT_GE(ticks, 3);
  loop.RunDue();  // the last repost, if any
}

TEST(Win32MessageLoopTest, StopLeavesTheRestOfTheDueWorkForTheNextRun) {
  Win32MessageLoop loop;
  std::vector<int> ran;
  loop.Post([&] {
    ran.push_back(1);
    loop.Stop();
  });
  loop.Post([&] { ran.push_back(2); });
  loop.Run();
  EXPECT_THAT(ran, ElementsAre(1));
  loop.Stop();  // not running: ignored
  EXPECT_TRUE(RunWithin(loop, [&] { return ran.size() == 2; }));
  EXPECT_THAT(ran, ElementsAre(1, 2));
}

TEST(Win32MessageLoopTest, StopInsideATickHoldsBackTheOtherTicksForTheNextRun) {
  Win32MessageLoop loop;
  std::vector<std::string> ticks;
  auto first = loop.CreateTimer([&] {
    ticks.push_back("first");
    if (ticks.size() == 1) loop.Stop();
  });
  auto second = loop.CreateTimer([&] {
    ticks.push_back("second");
    if (ticks.size() == 1) loop.Stop();
  });
  first->SetInterval(20);
  second->SetInterval(20);
  first->SetEnabled(true);
  second->SetEnabled(true);
  bool timed_out = false;
  auto watchdog = loop.CreateTimer([&] {
    timed_out = true;
    loop.Stop();
  });
  watchdog->SetInterval(kWatchdogMilliseconds);
  watchdog->SetEnabled(true);
  loop.Run();
  ASSERT_FALSE(timed_out);
  ASSERT_EQ(ticks.size(), 1u);
  const std::string other = ticks[0] == "first" ? "second" : "first";
  EXPECT_TRUE(RunWithin(loop, [&] { return std::count(ticks.begin(), ticks.end(), other) >= 1; }));
}

TEST(Win32MessageLoopTest, ExceptionFromATickLeavesTheRunAndTheLoopStaysUsable) {
  Win32MessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] {
    if (++ticks == 1) throw std::runtime_error("tick failed");
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_THROW(RunWithin(loop, [] { return false; }), std::runtime_error);
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 3; }));
  loop.Post([] { throw std::logic_error("posted work failed"); });
  EXPECT_THROW(loop.RunDue(), std::logic_error);
  bool ran = false;
  loop.Post([&] { ran = true; });
  loop.RunDue();
  EXPECT_TRUE(ran);
}

TEST(Win32MessageLoopTest, RunCalledInsideWorkReturnsAtOnce) {
  Win32MessageLoop loop;
  int ticks = 0;
  bool inside_tick = false;
  int posted_ran = 0;
  bool posted_ran_inside = false;
  auto timer = loop.CreateTimer([&] {
    inside_tick = true;
    ++ticks;
    loop.Post([&] {
      ++posted_ran;
      posted_ran_inside = posted_ran_inside || inside_tick;
    });
    loop.Run();
    loop.RunUntil([] { return false; });
    loop.RunDue();
    inside_tick = false;
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 2 && posted_ran >= 2; }));
  EXPECT_FALSE(posted_ran_inside);
}

TEST(Win32MessageLoopTest, RunUntilChecksDoneBeforeAnyWork) {
  Win32MessageLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  loop.RunUntil([] { return true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(RunWithin(loop, [&] { return ran; }));
}

TEST(Win32MessageLoopTest, RunDueRunsWhatIsWaitingAndLeavesWhatItPostsForTheNextRun) {
  Win32MessageLoop loop;
  loop.RunDue();  // nothing waiting: returns without blocking
  std::vector<int> ran;
  loop.Post([&] {
    ran.push_back(1);
    loop.Post([&] { ran.push_back(2); });
  });
  loop.RunDue();
  EXPECT_THAT(ran, ElementsAre(1));
  loop.RunDue();
  EXPECT_THAT(ran, ElementsAre(1, 2));
}

TEST(Win32MessageLoopTest, QuitMessageEndsTheRunAndStaysForTheThreadsOuterLoop) {
  Win32MessageLoop loop;
  bool after_quit_ran = false;
  loop.Post([] { PostQuitMessage(3); });
  loop.Run();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  loop.Post([&] { after_quit_ran = true; });
  EXPECT_TRUE(RunWithin(loop, [&] { return after_quit_ran; }));
}

TEST(CurrentMessageLoopTest, EachThreadHasItsOwnLoopCleanedUpAtThreadExit) {
  MessageLoop& main_loop = CurrentMessageLoop();
  EXPECT_EQ(&CurrentMessageLoop(), &main_loop);
  EXPECT_TRUE(main_loop.IsOwnThread());
  EXPECT_EQ(main_loop.PollDescriptor(), -1);

  MessageLoop* thread_loop = nullptr;
  bool main_loop_own_there = true;
  bool thread_loop_own_there = false;
  bool thread_loop_ticked = false;
  std::unique_ptr<Timer> survivor;
  auto dropped_capture = std::make_shared<int>(0);
  std::weak_ptr<int> dropped_watch = dropped_capture;
  std::thread worker([&] {
    MessageLoop& loop = CurrentMessageLoop();
    thread_loop = &loop;
    thread_loop_own_there = loop.IsOwnThread();
    main_loop_own_there = main_loop.IsOwnThread();
    int ticks = 0;
    auto timer = loop.CreateTimer([&] { ++ticks; });
    timer->SetInterval(10);
    timer->SetEnabled(true);
    thread_loop_ticked = RunWithin(loop, [&] { return ticks >= 1; });
    // Left behind at thread exit: a destroyed timer, an armed one that
    // outlives the loop, and posted work that never runs.
    timer.reset();
    survivor = loop.CreateTimer([] {});
    survivor->SetInterval(10);
    survivor->SetEnabled(true);
    loop.Post([capture = std::move(dropped_capture)] {});
  });
  worker.join();
  EXPECT_NE(thread_loop, &main_loop);
  EXPECT_TRUE(thread_loop_own_there);
  EXPECT_FALSE(main_loop_own_there);
  EXPECT_TRUE(thread_loop_ticked);
  EXPECT_TRUE(dropped_watch.expired());
  survivor->SetEnabled(false);
  survivor.reset();
}

}  // namespace
}  // namespace dovel::platform
