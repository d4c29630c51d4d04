#include "platform/loop/manual_message_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock/settable_clock.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// Records the virtual time of every tick of one timer.
struct TickLog {
  explicit TickLog(ManualMessageLoop& loop) : timer(loop.CreateTimer([this, &loop] { times.push_back(loop.Now()); })) {}
  std::vector<std::int64_t> times;
  std::unique_ptr<Timer> timer;
};

TEST(ManualTimerTest, NewTimerIsDisabledWithIntervalZeroAndNeverTicks) {
  ManualMessageLoop loop;
  TickLog log(loop);
  EXPECT_FALSE(log.timer->Enabled());
  EXPECT_EQ(log.timer->Interval(), 0);
  log.timer->SetInterval(10);  // still disabled
  loop.AdvanceMilliseconds(1000);
  EXPECT_THAT(log.times, IsEmpty());
  EXPECT_EQ(loop.TimeUntilDue(), -1);
}

TEST(ManualTimerTest, EnabledTimerTicksEveryInterval) {
  ManualMessageLoop loop;
  TickLog log(loop);
  log.timer->SetInterval(100);
  log.timer->SetEnabled(true);
  loop.AdvanceMilliseconds(99);
  EXPECT_THAT(log.times, IsEmpty());
  loop.AdvanceMilliseconds(1);
  loop.AdvanceMilliseconds(250);
  EXPECT_THAT(log.times, ElementsAre(100, 200, 300));
  EXPECT_EQ(loop.Now(), 350);
  EXPECT_EQ(loop.TimeUntilDue(), 50);
}

TEST(ManualTimerTest, EnabledTimerWithZeroOrNegativeIntervalNeverTicks) {
  for (const std::int32_t interval : {0, -1, -1000}) {
    ManualMessageLoop loop;
    TickLog log(loop);
    log.timer->SetEnabled(true);
    log.timer->SetInterval(interval);
    loop.AdvanceMilliseconds(5000);
    EXPECT_THAT(log.times, IsEmpty()) << "interval " << interval;
    EXPECT_EQ(loop.RunningTimerCount(), 0u);
    // A positive interval set later starts it from that moment.
    log.timer->SetInterval(40);
    loop.AdvanceMilliseconds(40);
    EXPECT_THAT(log.times, ElementsAre(5040)) << "interval " << interval;
  }
}

TEST(ManualTimerTest, DisabledTimerDoesNotTickAndEnablingStartsAFullCountdown) {
  ManualMessageLoop loop;
  TickLog log(loop);
  log.timer->SetInterval(100);
  log.timer->SetEnabled(true);
  loop.AdvanceMilliseconds(60);
  log.timer->SetEnabled(false);
  loop.AdvanceMilliseconds(300);
  EXPECT_THAT(log.times, IsEmpty());
  log.timer->SetEnabled(true);  // at 360: due at 460, not 400
  loop.AdvanceMilliseconds(99);
  EXPECT_THAT(log.times, IsEmpty());
  loop.AdvanceMilliseconds(1);
  EXPECT_THAT(log.times, ElementsAre(460));
}

TEST(ManualTimerTest, ChangingIntervalRestartsButSettingTheSameValuesDoesNot) {
  ManualMessageLoop loop;
  TickLog log(loop);
  log.timer->SetInterval(100);
  log.timer->SetEnabled(true);
  loop.AdvanceMilliseconds(60);
  log.timer->SetInterval(100);  // unchanged: the countdown goes on
  log.timer->SetEnabled(true);  // already on: likewise
  loop.AdvanceMilliseconds(40);
  EXPECT_THAT(log.times, ElementsAre(100));
  loop.AdvanceMilliseconds(30);
  log.timer->SetInterval(50);  // at 130: next at 180, then every 50
  loop.AdvanceMilliseconds(100);
  EXPECT_THAT(log.times, ElementsAre(100, 180, 230));
}

TEST(ManualTimerTest, DisablingInsideATickStopsFurtherTicksUntilEnabledAgain) {
  ManualMessageLoop loop;
  std::vector<std::int64_t> times;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    times.push_back(loop.Now());
    timer->SetEnabled(false);
  });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(1000);
  EXPECT_THAT(times, ElementsAre(10));
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(1000);
  EXPECT_THAT(times, ElementsAre(10, 1010));
}

TEST(ManualTimerTest, WorkerPatternTicksEveryIntervalPlusTheTickDuration) {
  // Off at the start of the tick, 30 ms of work, on again at the end: the next
  // countdown starts when the work is done.
  ManualMessageLoop loop;
  std::vector<std::int64_t> starts;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    timer->SetEnabled(false);
    starts.push_back(loop.Now());
    loop.AdvanceMilliseconds(30);
    timer->SetEnabled(true);
  });
  timer->SetInterval(100);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(400);
  EXPECT_THAT(starts, ElementsAre(100, 230, 360));
  EXPECT_EQ(loop.Now(), 400);
}

// A running timer keeps its own schedule: what its ticks or other work cost
// it shows as late ticks, never as a slower rate or a burst of catching up.
TEST(ManualTimerTest, RepeatingTimerKeepsItsScheduleWhileItsTicksTakeTime) {
  ManualMessageLoop loop;
  std::vector<std::int64_t> starts;
  auto timer = loop.CreateTimer([&] {
    starts.push_back(loop.Now());
    loop.AdvanceMilliseconds(30);
  });
  timer->SetInterval(100);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(400);
  EXPECT_THAT(starts, ElementsAre(100, 200, 300, 400));
  EXPECT_EQ(loop.Now(), 430);
  EXPECT_EQ(loop.TimeUntilDue(), 70);
}

TEST(ManualTimerTest, LoopHeldUpPastSeveralDueTimesGivesOneLateTickThenTheSchedule) {
  ManualMessageLoop loop;
  TickLog log(loop);
  log.timer->SetInterval(100);
  log.timer->SetEnabled(true);
  loop.Post([&] { loop.AdvanceMilliseconds(350); });
  loop.RunPosted();
  EXPECT_THAT(log.times, IsEmpty());
  // Due at 100, 200 and 300 meanwhile: one tick for all three.
  loop.AdvanceMilliseconds(150);
  EXPECT_THAT(log.times, ElementsAre(350, 400, 500));
}

TEST(ManualTimerTest, TickOutlastingItsIntervalIsFollowedByOneLateTickThenTheSchedule) {
  ManualMessageLoop loop;
  std::vector<std::int64_t> starts;
  auto timer = loop.CreateTimer([&] {
    starts.push_back(loop.Now());
    if (starts.size() == 1) loop.AdvanceMilliseconds(150);
  });
  timer->SetInterval(100);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(400);
  EXPECT_THAT(starts, ElementsAre(100, 250, 300, 400));
}

TEST(ManualTimerTest, IntervalChangedInsideATickStartsAFreshCountdownOffTheSchedule) {
  ManualMessageLoop loop;
  std::vector<std::int64_t> starts;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    starts.push_back(loop.Now());
    loop.AdvanceMilliseconds(30);
    if (starts.size() == 1) timer->SetInterval(50);  // at 130: next at 180
  });
  timer->SetInterval(100);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(300);
  EXPECT_THAT(starts, ElementsAre(100, 180, 230, 280));
}

TEST(ManualTimerTest, TimeSpentInsideATickDelaysOtherTicksAndDoesNotPileThemUp) {
  ManualMessageLoop loop;
  std::vector<std::pair<std::string, std::int64_t>> events;
  auto slow = loop.CreateTimer([&] {
    events.emplace_back("slow", loop.Now());
    loop.AdvanceMilliseconds(55);
  });
  auto fast = loop.CreateTimer([&] { events.emplace_back("fast", loop.Now()); });
  slow->SetInterval(100);
  fast->SetInterval(10);
  slow->SetEnabled(true);
  fast->SetEnabled(true);
  loop.AdvanceMilliseconds(100);
  // Fast, due at 100 behind slow (made first) and again every 10 ms during
  // slow's 55 ms tick, ticks once, at 155, and goes on with its own schedule
  // at 160.
  EXPECT_THAT(events, ElementsAre(Pair("fast", 10), Pair("fast", 20), Pair("fast", 30), Pair("fast", 40),
                                  Pair("fast", 50), Pair("fast", 60), Pair("fast", 70), Pair("fast", 80),
                                  Pair("fast", 90), Pair("slow", 100), Pair("fast", 155)));
  EXPECT_EQ(loop.Now(), 155);
  EXPECT_EQ(loop.TimeUntilDue(), 5);
}

TEST(ManualTimerTest, TwoTimersTickInDueOrderAndTiesInCreationOrder) {
  ManualMessageLoop loop;
  std::vector<std::pair<char, std::int64_t>> events;
  // Made in the order c, a, b; b and c share their due times.
  auto c = loop.CreateTimer([&] { events.emplace_back('c', loop.Now()); });
  auto a = loop.CreateTimer([&] { events.emplace_back('a', loop.Now()); });
  auto b = loop.CreateTimer([&] { events.emplace_back('b', loop.Now()); });
  a->SetInterval(30);
  b->SetInterval(40);
  c->SetInterval(40);
  b->SetEnabled(true);
  a->SetEnabled(true);
  c->SetEnabled(true);
  loop.AdvanceMilliseconds(90);
  EXPECT_THAT(events, ElementsAre(Pair('a', 30), Pair('c', 40), Pair('b', 40), Pair('a', 60), Pair('c', 80),
                                  Pair('b', 80), Pair('a', 90)));
}

TEST(ManualTimerTest, TimerDestroyedInsideItsOwnTickNeverTicksAgain) {
  ManualMessageLoop loop;
  int ticks = 0;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    ++ticks;
    timer.reset();
    // The callable must still be usable after its timer is gone.
    ++ticks;
  });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(100);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST(ManualTimerTest, TimerDestroyedByAnotherTickDueAtTheSameMomentDoesNotTick) {
  ManualMessageLoop loop;
  int victim_ticks = 0;
  std::unique_ptr<Timer> victim;
  auto killer = loop.CreateTimer([&] { victim.reset(); });
  victim = loop.CreateTimer([&] { ++victim_ticks; });
  killer->SetInterval(50);
  victim->SetInterval(50);
  killer->SetEnabled(true);
  victim->SetEnabled(true);
  loop.AdvanceMilliseconds(200);
  EXPECT_EQ(victim_ticks, 0);
  EXPECT_EQ(loop.TimerCount(), 1u);
}

TEST(ManualTimerTest, TimerMadeInsideATickCountsFromThatTick) {
  ManualMessageLoop loop;
  std::vector<std::int64_t> child_ticks;
  std::unique_ptr<Timer> child;
  auto parent = loop.CreateTimer([&] {
    if (child) return;
    child = loop.CreateTimer([&] { child_ticks.push_back(loop.Now()); });
    child->SetInterval(25);
    child->SetEnabled(true);
  });
  parent->SetInterval(70);
  parent->SetEnabled(true);
  loop.AdvanceMilliseconds(150);
  EXPECT_THAT(child_ticks, ElementsAre(95, 120, 145));
}

TEST(ManualTimerTest, TimerOutlivingItsLoopIsInert) {
  std::unique_ptr<Timer> timer;
  {
    ManualMessageLoop loop;
    timer = loop.CreateTimer([] { FAIL() << "ticked after its loop was gone"; });
  }
  timer->SetInterval(10);
  timer->SetEnabled(true);
  EXPECT_EQ(timer->Interval(), 10);
  EXPECT_TRUE(timer->Enabled());
  timer.reset();
}

TEST(ManualMessageLoopTest, SettableClockMovesWithVirtualTime) {
  SettableClock clock({2026, 3, 1, 23, 59, 59, 900});
  ManualMessageLoop loop(&clock);
  std::vector<LocalDateTime> seen;
  auto timer = loop.CreateTimer([&] { seen.push_back(clock.Now()); });
  timer->SetInterval(150);
  timer->SetEnabled(true);
  loop.AdvanceMilliseconds(200);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (LocalDateTime{2026, 3, 2, 0, 0, 0, 50}));
  EXPECT_EQ(clock.Now(), (LocalDateTime{2026, 3, 2, 0, 0, 0, 100}));
  loop.AdvanceMilliseconds(-500);  // time never runs backwards
  EXPECT_EQ(loop.Now(), 200);
  EXPECT_EQ(clock.Now(), (LocalDateTime{2026, 3, 2, 0, 0, 0, 100}));
}

TEST(ManualMessageLoopTest, PostedWorkRunsInOrderOnlyWhenAsked) {
  ManualMessageLoop loop;
  std::vector<int> order;
  loop.Post([&] {
    order.push_back(1);
    loop.Post([&] { order.push_back(3); });
  });
  loop.Post([&] { order.push_back(2); });
  loop.Post(nullptr);  // ignored
  EXPECT_EQ(loop.PostedCount(), 2u);
  loop.AdvanceMilliseconds(1000);
  EXPECT_THAT(order, IsEmpty());
  EXPECT_EQ(loop.RunPosted(), 3u);
  EXPECT_THAT(order, ElementsAre(1, 2, 3));
  EXPECT_EQ(loop.PostedCount(), 0u);
}

TEST(ManualMessageLoopTest, RunInterleavesPostedWorkAndTicksUntilStop) {
  ManualMessageLoop loop;
  std::vector<std::string> events;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] {
    events.push_back("tick@" + std::to_string(loop.Now()));
    if (++ticks == 2) loop.Post([&] { events.push_back("posted"); });
    if (ticks == 3) loop.Stop();
  });
  auto other = loop.CreateTimer([&] { events.push_back("other@" + std::to_string(loop.Now())); });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  other->SetInterval(60);  // due with the stopping tick, after it
  other->SetEnabled(true);
  loop.Post([&] { events.push_back("first"); });
  loop.Run();
  EXPECT_THAT(events, ElementsAre("first", "tick@20", "tick@40", "posted", "tick@60"));
  EXPECT_EQ(loop.Now(), 60);
  // The tick left behind by Stop runs first in the next run, still at 60.
  loop.RunUntil([&] { return events.size() == 6; });
  EXPECT_EQ(events.back(), "other@60");
}

TEST(ManualMessageLoopTest, RunUntilChecksFirstAndAfterEveryPiece) {
  ManualMessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  timer->SetInterval(15);
  timer->SetEnabled(true);
  loop.RunUntil([] { return true; });
  EXPECT_EQ(loop.Now(), 0);
  loop.RunUntil([&] { return ticks == 4; });
  EXPECT_EQ(ticks, 4);
  EXPECT_EQ(loop.Now(), 60);
}

TEST(ManualMessageLoopTest, RunReturnsWhenNothingCouldEverRun) {
  ManualMessageLoop loop;
  int ticks = 0;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    if (++ticks == 2) timer->SetEnabled(false);
  });
  timer->SetInterval(5);
  timer->SetEnabled(true);
  loop.Run();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(loop.Now(), 10);
  loop.Stop();  // not running: must not cut the next run short
  loop.Post([&] { ++ticks; });
  loop.Run();
  EXPECT_EQ(ticks, 3);
}

TEST(ManualMessageLoopTest, RunDueRunsPostedWorkAndOverdueTicksWithoutMovingTime) {
  ManualMessageLoop loop;
  std::vector<std::string> events;
  auto overdue = loop.CreateTimer([&] { events.push_back("overdue@" + std::to_string(loop.Now())); });
  overdue->SetInterval(10);
  overdue->SetEnabled(true);
  // Time moved from inside posted work leaves the tick that fell due waiting.
  loop.Post([&] {
    events.push_back("posted");
    loop.AdvanceMilliseconds(25);
  });
  loop.RunDue();
  EXPECT_THAT(events, ElementsAre("posted", "overdue@25"));
  EXPECT_EQ(loop.Now(), 25);
  EXPECT_EQ(loop.TimeUntilDue(), 5);  // due at 30, on its schedule
}

TEST(ManualMessageLoopTest, TimeUntilDueFollowsTheRunningTimersOnVirtualTime) {
  ManualMessageLoop loop;
  MessageLoop& as_host_sees_it = loop;
  EXPECT_EQ(as_host_sees_it.TimeUntilDue(), MessageLoop::kNoTickDue);
  EXPECT_EQ(as_host_sees_it.PollDescriptor(), -1);
  TickLog slow(loop);
  TickLog fast(loop);
  slow.timer->SetInterval(100);
  fast.timer->SetInterval(30);
  slow.timer->SetEnabled(true);
  EXPECT_EQ(loop.TimeUntilDue(), 100);
  loop.AdvanceMilliseconds(10);
  fast.timer->SetEnabled(true);
  EXPECT_EQ(loop.TimeUntilDue(), 30);
  loop.AdvanceMilliseconds(25);
  EXPECT_EQ(loop.TimeUntilDue(), 5);
  fast.timer->SetEnabled(false);
  EXPECT_EQ(loop.TimeUntilDue(), 65);
  // Time moved on inside work leaves the tick due: 0 until it has run.
  loop.Post([&] { loop.AdvanceMilliseconds(200); });
  loop.RunPosted();
  EXPECT_EQ(loop.TimeUntilDue(), 0);
  as_host_sees_it.RunDue();
  EXPECT_THAT(slow.times, ElementsAre(235));
  EXPECT_EQ(loop.TimeUntilDue(), 65);  // due at 300, on its schedule
  slow.timer.reset();
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
}

TEST(ManualMessageLoopTest, LoopDoesNotNestInsideWork) {
  ManualMessageLoop loop;
  int ticks = 0;
  int nested_posted = 0;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    ++ticks;
    loop.Run();
    loop.RunUntil([] { return false; });
    loop.RunDue();
    nested_posted += static_cast<int>(loop.RunPosted());
  });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  loop.Post([] {});
  loop.AdvanceMilliseconds(10);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(nested_posted, 0);
  EXPECT_EQ(loop.PostedCount(), 1u);
}

TEST(ManualMessageLoopTest, ExceptionFromATickPropagatesAndLeavesTheLoopUsable) {
  ManualMessageLoop loop;
  int ticks = 0;
  auto timer = loop.CreateTimer([&] {
    if (++ticks == 1) throw std::runtime_error("tick failed");
  });
  timer->SetInterval(10);
  timer->SetEnabled(true);
  EXPECT_THROW(loop.Run(), std::runtime_error);
  loop.RunUntil([&] { return ticks == 3; });
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(loop.Now(), 30);
}

}  // namespace
}  // namespace dovel::platform
