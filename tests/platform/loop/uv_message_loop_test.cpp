#include "platform/loop/uv_message_loop.h"
#include "platform/loop/real_loop_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using testing::kWatchdogMilliseconds;
using testing::RunWithin;

bool Readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) == 1 && (entry.revents & POLLIN) != 0;
}

TEST(UvTimerTest, EnabledTimerTicksRepeatedlyOnTheLoopThread) {
  UvMessageLoop loop;
  int ticks = 0;
  bool all_on_own_thread = true;
  const auto test_thread = std::this_thread::get_id();
  auto timer = loop.CreateTimer([&] {
    ++ticks;
    all_on_own_thread = all_on_own_thread && loop.IsOwnThread() &&
                        std::this_thread::get_id() == test_thread;
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 3; }));
  EXPECT_TRUE(all_on_own_thread);
}

TEST(UvTimerTest, DisablingInsideATickGivesExactlyOneTick) {
  UvMessageLoop loop;
  int ticks = 0;
  std::unique_ptr<Timer> once;
  once = loop.CreateTimer([&] {
    ++ticks;
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
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(once->Enabled());
}

// `slow` (100 ms) is restarted by `restart` in fast's first tick (at 60 ms). A
// fresh countdown of 100 ms or more from there puts slow's next tick after
// fast's second (60 ms after its first); no restart, or one counted from the
// original start, puts it before. Only the order is asserted.
std::vector<std::string> FirstThreeTicksWithRestart(const std::function<void(Timer&)>& restart) {
  UvMessageLoop loop;
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

TEST(UvTimerTest, ReEnablingOrChangingTheIntervalRestartsTheCountdown) {
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) {
                slow.SetEnabled(false);
                slow.SetEnabled(true);
              }),
              ElementsAre("fast", "fast", "slow"));
  EXPECT_THAT(FirstThreeTicksWithRestart([](Timer& slow) { slow.SetInterval(110); }),
              ElementsAre("fast", "fast", "slow"));
}

TEST(UvTimerTest, TimerDestroyedInsideATickNeverTicksAgain) {
  UvMessageLoop loop;
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
  // Same interval, armed after `self`: due no earlier, so it is still waiting
  // when `self` destroys it.
  victim = loop.CreateTimer([&] { ++victim_ticks; });
  self->SetInterval(20);
  victim->SetInterval(20);
  self->SetEnabled(true);
  victim->SetEnabled(true);
  int other_ticks = 0;
  auto other = loop.CreateTimer([&] { ++other_ticks; });
  other->SetInterval(20);
  other->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return other_ticks >= 5; }));
  EXPECT_EQ(self_ticks, 2);
  EXPECT_EQ(victim_ticks, 0);
}

TEST(UvTimerTest, TimerDestroyedWhileTheLoopIsNotRunningAndTimerOutlivingItsLoop) {
  std::unique_ptr<Timer> survivor;
  {
    UvMessageLoop loop;
    auto dropped = loop.CreateTimer([] {});
    dropped->SetInterval(5);
    dropped->SetEnabled(true);
    dropped.reset();  // its handle is closed when the loop is destroyed
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

TEST(UvMessageLoopTest, PostFromAnotherThreadWakesTheRunAndKeepsOrder) {
  UvMessageLoop loop;
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
    for (int i = 0; i < 100; ++i) {
      loop.Post([&, i] {
        order.push_back(i);
        all_on_own_thread = all_on_own_thread && loop.IsOwnThread();
      });
    }
  });
  const bool done = RunWithin(loop, [&] { return order.size() == 100; });
  poster.join();
  ASSERT_TRUE(done);
  std::vector<int> expected(100);
  for (int i = 0; i < 100; ++i) expected[i] = i;
  EXPECT_THAT(order, ElementsAreArray(expected));
  EXPECT_TRUE(all_on_own_thread);
  EXPECT_FALSE(poster_was_own_thread);
}

TEST(UvMessageLoopTest, StopLeavesTheRestOfTheDueWorkForTheNextRun) {
  UvMessageLoop loop;
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

TEST(UvMessageLoopTest, StopInsideATickHoldsBackATickDueInTheSamePass) {
  UvMessageLoop loop;
  int first_ticks = 0;
  int second_ticks = 0;
  auto first = loop.CreateTimer([&] {
    if (++first_ticks == 1) loop.Stop();
  });
  auto second = loop.CreateTimer([&] { ++second_ticks; });
  first->SetInterval(20);
  second->SetInterval(20);  // armed later, so due no earlier than `first`
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
  EXPECT_EQ(first_ticks, 1);
  EXPECT_EQ(second_ticks, 0);
  EXPECT_TRUE(RunWithin(loop, [&] { return second_ticks >= 1; }));
}

TEST(UvMessageLoopTest, ExceptionFromATickLeavesTheRunAndTheLoopStaysUsable) {
  UvMessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] {
    if (++ticks == 1) throw std::runtime_error("tick failed");
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_THROW(RunWithin(loop, [] { return false; }), std::runtime_error);
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 3; }));
}

TEST(UvMessageLoopTest, RunCalledInsideWorkReturnsAtOnce) {
  UvMessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] {
    ++ticks;
    loop.Run();
    loop.RunUntil([] { return false; });
    loop.RunDue();
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  EXPECT_TRUE(RunWithin(loop, [&] { return ticks >= 2; }));
}

TEST(UvMessageLoopTest, PollDescriptorBecomesReadableForWorkPostedFromAnotherThread) {
  UvMessageLoop loop;
  const int fd = loop.PollDescriptor();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Readable(fd, 0));
  bool ran = false;
  std::thread poster([&] { loop.Post([&] { ran = true; }); });
  poster.join();
  ASSERT_TRUE(Readable(fd, kWatchdogMilliseconds));
  loop.RunDue();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(Readable(fd, 0));
}

TEST(UvMessageLoopTest, PollDescriptorWakesTheHostForWorkQueuedBeforeItWasHandedOut) {
  UvMessageLoop loop;
  bool ran = false;
  loop.Post([&] { ran = true; });
  const int fd = loop.PollDescriptor();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(ran);  // handing out the descriptor runs nothing
  ASSERT_TRUE(Readable(fd, kWatchdogMilliseconds));
  loop.RunDue();
  EXPECT_TRUE(ran);
}

TEST(UvMessageLoopTest, PollDescriptorBecomesReadableWhenATickIsDue) {
  UvMessageLoop loop;
  const int fd = loop.PollDescriptor();
  ASSERT_GE(fd, 0);
  int ticks = 0;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    timer->SetEnabled(false);
    ++ticks;
    timer->SetEnabled(true);
  });
  // First due far off, then brought forward: the descriptor must follow.
  timer->SetInterval(kWatchdogMilliseconds * 2);
  timer->SetEnabled(true);
  timer->SetInterval(20);
  // A host loop: block on the descriptor, run what is due. Early wake-ups are
  // allowed; a wait that never ends is not.
  for (int wakeups = 0; ticks < 3 && wakeups < 1000; ++wakeups) {
    ASSERT_TRUE(Readable(fd, kWatchdogMilliseconds)) << "after " << ticks << " ticks";
    loop.RunDue();
  }
  EXPECT_EQ(ticks, 3);
}

TEST(CurrentMessageLoopTest, EachThreadHasItsOwnLoopCleanedUpAtThreadExit) {
  MessageLoop& main_loop = CurrentMessageLoop();
  EXPECT_EQ(&CurrentMessageLoop(), &main_loop);
  EXPECT_TRUE(main_loop.IsOwnThread());

  MessageLoop* thread_loop = nullptr;
  bool main_loop_own_there = true;
  bool thread_loop_own_there = false;
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
    RunWithin(loop, [&] { return ticks >= 1; });
    // Left behind at thread exit: a closed timer, an armed one that outlives
    // the loop, and posted work that never runs.
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
  EXPECT_TRUE(dropped_watch.expired());
  survivor->SetEnabled(false);
  survivor.reset();
}

}  // namespace
}  // namespace dovel::platform
