// The contract of message_loop.h, held against the loop this platform really
// runs on (RealLoop), on real timers and threads. Every platform's loop must
// pass these same tests; what only one loop does is tested beside it. The
// tests wait for events, never for durations: the watchdog only ends a run
// that has already failed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/loop/real_loop_support.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using testing::RealLoop;
using testing::RunUntilStopped;
using testing::RunWithin;

TEST(RealTimerTest, EnabledTimerTicksRepeatedlyOnTheLoopThread) {
  RealLoop loop;
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

TEST(RealTimerTest, DisabledZeroOrNegativeIntervalAndDisabledInsideATickGiveNoFurtherTicks) {
  RealLoop loop;
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

// `slow` (100 ms) is restarted by `restart` in fast's first tick (at 60 ms). A
// fresh countdown of 100 ms or more from there puts slow's next tick after
// fast's second (60 ms after its first); no restart, or one counted from the
// original start, puts it before. Only the order is asserted.
std::vector<std::string> FirstThreeTicksWithRestart(const std::function<void(Timer&)>& restart) {
  RealLoop loop;
  std::vector<std::string> events;
  std::unique_ptr<Timer> slow;
  auto fast = loop.CreateTimer([&] {
    events.push_back("fast");
    if (events.size() == 1) restart(*slow);
  });
  slow = loop.CreateTimer([&] { events.push_back("slow"); });
  fast->SetInterval(60);
  slow->SetInterval(100);
  fast->SetEnabled(true);  // first, so nothing can make slow due before it
  slow->SetEnabled(true);
  if (!RunWithin(loop, [&] { return events.size() >= 3; })) return events;
  events.resize(3);
  return events;
}

TEST(RealTimerTest, ReEnablingOrChangingTheIntervalRestartsTheCountdown) {
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) {
                slow.SetEnabled(false);
                slow.SetEnabled(true);
              }),
              ElementsAre("fast", "fast", "slow"));
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) { slow.SetInterval(110); }),
              ElementsAre("fast", "fast", "slow"));
}

TEST(RealTimerTest, SettingTheValuesItAlreadyHasLeavesTheCountdownRunning) {
  RealLoop loop;
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

// Two timers due together may tick in either order on a real loop; whichever
// comes first destroys itself and the other, which is then still waiting.
TEST(RealTimerTest, TimerDestroyedInsideATickNeverTicksAgain) {
  RealLoop loop;
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

TEST(RealTimerTest, TimerDestroyedWhileTheLoopIsNotRunningAndTimerOutlivingItsLoop) {
  std::unique_ptr<Timer> survivor;
  {
    RealLoop loop;
    auto dropped = loop.CreateTimer([] { FAIL() << "a destroyed timer ticked"; });
    dropped->SetInterval(5);
    dropped->SetEnabled(true);
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
  survivor.reset();
}

TEST(RealMessageLoopTest, PostFromAnotherThreadWakesTheRunAndKeepsOrder) {
  RealLoop loop;
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
  for (int i = 0; i < 1000; ++i) expected[static_cast<std::size_t>(i)] = i;
  EXPECT_THAT(order, ElementsAreArray(expected));
  EXPECT_TRUE(all_on_own_thread);
  EXPECT_FALSE(poster_was_own_thread);
}

TEST(RealMessageLoopTest, StopLeavesTheRestOfTheDueWorkForTheNextRun) {
  RealLoop loop;
  std::vector<int> ran;
  loop.Post([&] {
    ran.push_back(1);
    loop.Stop();
  });
  loop.Post([&] { ran.push_back(2); });
  ASSERT_TRUE(RunUntilStopped(loop));
  EXPECT_THAT(ran, ElementsAre(1));
  loop.Stop();  // not running: ignored
  EXPECT_TRUE(RunWithin(loop, [&] { return ran.size() == 2; }));
  EXPECT_THAT(ran, ElementsAre(1, 2));
}

// Two timers due together may tick in either order on a real loop: whichever
// comes first stops the run, and the other waits for the next one.
TEST(RealMessageLoopTest, StopInsideATickHoldsBackTheOtherTicksForTheNextRun) {
  RealLoop loop;
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
  ASSERT_TRUE(RunUntilStopped(loop));
  ASSERT_EQ(ticks.size(), 1u);
  const std::string other = ticks[0] == "first" ? "second" : "first";
  EXPECT_TRUE(RunWithin(loop, [&] { return std::count(ticks.begin(), ticks.end(), other) >= 1; }));
}

TEST(RealMessageLoopTest, ExceptionFromATickLeavesTheRunAndTheLoopStaysUsable) {
  RealLoop loop;
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

TEST(RealMessageLoopTest, RunCalledInsideWorkReturnsAtOnce) {
  RealLoop loop;
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

TEST(RealMessageLoopTest, RunUntilChecksDoneBeforeAnyWork) {
  RealLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  loop.RunUntil([] { return true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(RunWithin(loop, [&] { return ran; }));
}

// Both real loops run posted work in batches of what was queued when the
// batch began, so that work which keeps posting more cannot hold a run.
TEST(RealMessageLoopTest, RunDueRunsWhatIsWaitingAndLeavesWhatItPostsForTheNextRun) {
  RealLoop loop;
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

// A host driving the loop itself: it waits as WaitAsHost does, for at most
// TimeUntilDue, then calls RunDue.

TEST(RealMessageLoopHostTest, TimeUntilDueFollowsTheRunningTimers) {
  RealLoop loop;
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
  auto fast = loop.CreateTimer([] {});
  fast->SetInterval(40);
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue) << "not enabled yet";
  fast->SetEnabled(true);
  EXPECT_GT(loop.TimeUntilDue(), 0);
  EXPECT_LE(loop.TimeUntilDue(), 40 + testing::kRoundedUpMs);
  auto slow = loop.CreateTimer([] {});
  slow->SetInterval(testing::kWatchdogMilliseconds);
  slow->SetEnabled(true);
  EXPECT_LE(loop.TimeUntilDue(), 40 + testing::kRoundedUpMs);
  fast->SetEnabled(false);
  EXPECT_GT(loop.TimeUntilDue(), 40 + testing::kRoundedUpMs);
  // Its slack on top, where it has one.
  EXPECT_LE(loop.TimeUntilDue(), testing::kWatchdogMilliseconds + 2 + testing::kRoundedUpMs);
  slow.reset();
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
}

// Waking early is allowed, waking for ever is not, and neither is waking over
// and over with nothing to run: 1,000 wake-ups for five ticks of 20 ms would
// be a spin.
TEST(RealMessageLoopHostTest, HostWaitingForTheTimeUntilDueGetsEveryTick) {
  RealLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  for (int wakeups = 0; ticks < 5 && wakeups < 1000; ++wakeups) {
    const int timeout = loop.TimeUntilDue();
    ASSERT_GE(timeout, 0) << "after " << ticks << " ticks";
    ASSERT_LE(timeout, 20 + testing::kRoundedUpMs) << "after " << ticks << " ticks";
    testing::WaitAsHost(loop, timeout);
    loop.RunDue();
  }
  EXPECT_EQ(ticks, 5);
}

TEST(RealMessageLoopHostTest, HostWaitingWithNoTimerIsWokenByWorkPostedFromAnotherThread) {
  RealLoop loop;
  ASSERT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
  bool ran = false;
  std::thread([&] { loop.Post([&] { ran = true; }); }).join();
  ASSERT_TRUE(testing::WaitAsHost(loop, testing::kWatchdogMilliseconds));
  loop.RunDue();
  EXPECT_TRUE(ran);
}

TEST(CurrentMessageLoopTest, EachThreadHasItsOwnRealLoopCleanedUpAtThreadExit) {
  MessageLoop& main_loop = CurrentMessageLoop();
  EXPECT_EQ(&CurrentMessageLoop(), &main_loop);
  EXPECT_TRUE(main_loop.IsOwnThread());
  EXPECT_NE(dynamic_cast<RealLoop*>(&main_loop), nullptr);

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
