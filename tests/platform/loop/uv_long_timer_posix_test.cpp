// Timers of 100 ms or more share slots and one libuv timer, which may hold a
// tick back by its slack (1 ms at 100 ms, 2 ms from 200 ms) to serve other
// slots from the same wake-up. These tests wait for events, never for
// durations; the only time they check is that a tick never comes early,
// which no load can break.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/loop/real_loop_support.h"
#include "platform/loop/uv_message_loop.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;

using testing::RunWithin;

// Milliseconds of the monotonic clock, which the loop counts in too.
std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

TEST(UvLongTimerTest, TimersArmedTogetherTickInArmingOrderAndNeverEarly) {
  UvMessageLoop loop;
  std::vector<std::string> ticks;
  std::vector<std::uint64_t> elapsed;
  const std::uint64_t armed_at = NowMs();
  std::vector<std::unique_ptr<Timer>> timers;
  for (const char* name : {"a", "b", "c"}) {
    timers.push_back(loop.CreateTimer([&, name] {
      ticks.push_back(name);
      elapsed.push_back(NowMs() - armed_at);
    }));
  }
  for (auto& timer : timers) {
    timer->SetInterval(100);
    timer->SetEnabled(true);
  }
  ASSERT_TRUE(RunWithin(loop, [&] { return ticks.size() >= 3; }));
  EXPECT_THAT(std::vector<std::string>(ticks.begin(), ticks.begin() + 3), ElementsAre("a", "b", "c"));
  for (const std::uint64_t ms : elapsed) EXPECT_GE(ms, 100u);
}

// `slow` (100 ms) and `first` (60 ms) start together; first's tick starts
// `second` (42 ms), due at least 102 ms after slow was armed, past slow's due
// time and slack. Only a timer held back further than its slack (to a
// coarse grid, say) ticks after `second`. Three rounds, so that no lucky
// moment of arming hides such a delay.
TEST(UvLongTimerTest, LongTimerIsNotHeldBackPastItsSlack) {
  UvMessageLoop loop;
  for (int round = 0; round < 3; ++round) {
    std::vector<std::string> ticks;
    std::unique_ptr<Timer> second = loop.CreateTimer([&] { ticks.push_back("second"); });
    second->SetInterval(42);
    auto slow = loop.CreateTimer([&] { ticks.push_back("slow"); });
    auto first = loop.CreateTimer([&] { second->SetEnabled(true); });
    slow->SetInterval(100);
    first->SetInterval(60);
    slow->SetEnabled(true);
    first->SetEnabled(true);
    ASSERT_TRUE(RunWithin(loop, [&] { return ticks.size() >= 2; }));
    EXPECT_THAT(ticks, ElementsAre("slow", "second")) << "round " << round;
  }
}

// Enables `early`, then `late` once the clock has moved into the next
// millisecond, so that they fall due apart; false if this took so long that
// they are no longer due within a 200 ms timer's slack of each other.
bool EnableAMillisecondApart(Timer& early, Timer& late) {
  const std::uint64_t before = NowMs();
  early.SetEnabled(true);
  const std::uint64_t armed_early = NowMs();
  while (NowMs() == armed_early) {
  }
  late.SetEnabled(true);
  return NowMs() - before <= 2;
}

constexpr const char* kHeldUp = "held up while arming: the two are not due close together";

// `early` and `late` fall due a millisecond or two apart, within the slack of
// a 200 ms timer: one wake-up delivers both, before the work `early` posts
// runs. Woken for `early` alone, the loop would run that work first.
TEST(UvLongTimerTest, TimersDueWithinTheSlackTickFromOneWakeUp) {
  UvMessageLoop loop;
  std::vector<std::string> events;
  auto early = loop.CreateTimer([&] {
    events.push_back("early");
    loop.Post([&] { events.push_back("posted"); });
  });
  auto late = loop.CreateTimer([&] { events.push_back("late"); });
  early->SetInterval(200);
  late->SetInterval(200);
  if (!EnableAMillisecondApart(*early, *late)) GTEST_SKIP() << kHeldUp;
  ASSERT_TRUE(RunWithin(loop, [&] { return events.size() >= 3; }));
  EXPECT_THAT(events, ElementsAre("early", "late", "posted"));
}

// As above, but `early` stops the run: the run returns, and `late`, due in
// another slot of the same wake-up, waits for the next run.
TEST(UvLongTimerTest, StopInsideAWakeUpLeavesTheOtherSlotsForTheNextRun) {
  UvMessageLoop loop;
  std::vector<std::string> ticks;
  auto early = loop.CreateTimer([&] {
    ticks.push_back("early");
    loop.Stop();
  });
  auto late = loop.CreateTimer([&] { ticks.push_back("late"); });
  early->SetInterval(200);
  late->SetInterval(200);
  if (!EnableAMillisecondApart(*early, *late)) GTEST_SKIP() << kHeldUp;
  ASSERT_TRUE(testing::RunUntilStopped(loop));
  EXPECT_THAT(ticks, ElementsAre("early"));
  early->SetEnabled(false);
  ASSERT_TRUE(RunWithin(loop, [&] { return ticks.size() >= 2; }));
  EXPECT_THAT(ticks, ElementsAre("early", "late"));
}

TEST(UvLongTimerTest, ATickThatDestroysATimerOfTheSameSlotStopsItForGood) {
  UvMessageLoop loop;
  int first_ticks = 0;
  int victim_ticks = 0;
  std::unique_ptr<Timer> victim = loop.CreateTimer([&] { ++victim_ticks; });
  std::unique_ptr<Timer> first = loop.CreateTimer([&] {
    ++first_ticks;
    victim.reset();
  });
  // Armed in this order at one moment: same slot, `first` delivered first.
  first->SetInterval(100);
  victim->SetInterval(100);
  first->SetEnabled(true);
  victim->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return first_ticks >= 3; }));
  EXPECT_EQ(victim_ticks, 0);
}

TEST(UvLongTimerTest, MovingBetweenShortAndLongIntervalsLeavesOneSchedule) {
  UvMessageLoop loop;
  std::vector<std::uint64_t> tick_times;
  std::unique_ptr<Timer> timer;
  timer = loop.CreateTimer([&] {
    tick_times.push_back(NowMs());
    if (tick_times.size() == 2) timer->SetInterval(150);  // short to long
    if (tick_times.size() == 4) timer->SetInterval(20);   // and back
  });
  timer->SetInterval(20);
  timer->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return tick_times.size() >= 6; }));
  // A leftover short schedule would tick again within 20 ms or so. The
  // first long period counts from the switch; the next one from when that
  // tick fell due, so a late tick makes it shorter.
  EXPECT_GE(tick_times[2] - tick_times[1], 150u);
  EXPECT_GT(tick_times[3] - tick_times[2], 100u);
}

TEST(UvLongTimerTest, StopInsideASlotLeavesTheRestOfItForTheNextRun) {
  UvMessageLoop loop;
  std::vector<std::string> ticks;
  auto a = loop.CreateTimer([&] {
    ticks.push_back("a");
    loop.Stop();
  });
  auto b = loop.CreateTimer([&] { ticks.push_back("b"); });
  a->SetInterval(100);
  b->SetInterval(100);
  a->SetEnabled(true);
  b->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return !ticks.empty(); }));
  EXPECT_THAT(ticks, ElementsAre("a"));
  a->SetEnabled(false);
  ASSERT_TRUE(RunWithin(loop, [&] { return ticks.size() >= 2; }));
  EXPECT_THAT(ticks, ElementsAre("a", "b"));
}

TEST(UvLongTimerTest, DisablingALongTimerInsideItsTickGivesOneTick) {
  UvMessageLoop loop;
  int once_ticks = 0;
  int other_ticks = 0;
  std::unique_ptr<Timer> once;
  once = loop.CreateTimer([&] {
    ++once_ticks;
    once->SetEnabled(false);
  });
  auto other = loop.CreateTimer([&] { ++other_ticks; });
  once->SetInterval(100);
  other->SetInterval(100);
  once->SetEnabled(true);
  other->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return other_ticks >= 3; }));
  EXPECT_EQ(once_ticks, 1);
}

}  // namespace
}  // namespace dovel::platform
