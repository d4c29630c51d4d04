// What only the libuv loop has: a descriptor for a host's own poll loop, and
// a time until due exact enough that a host never wakes for nothing. The
// contract every loop keeps is tested in real_loop_contract_test.cpp.
#include "platform/loop/uv_message_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/loop/real_loop_support.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;

using testing::kRoundedUpMs;
using testing::kWatchdogMilliseconds;

bool Readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) == 1 && (entry.revents & POLLIN) != 0;
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

TEST(UvMessageLoopTest, HostPollingWithTimeUntilDueWakesForEveryTick) {
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
  // First due far off, then brought forward: the timeout must follow.
  timer->SetInterval(kWatchdogMilliseconds * 2);
  timer->SetEnabled(true);
  timer->SetInterval(20);
  // A host loop: block on the descriptor for the time until due, run what is
  // due. Early wake-ups are allowed; a wait that never ends is not.
  for (int wakeups = 0; ticks < 3 && wakeups < 1000; ++wakeups) {
    const int timeout = loop.TimeUntilDue();
    ASSERT_GE(timeout, 0) << "after " << ticks << " ticks";
    ASSERT_LE(timeout, 20 + kRoundedUpMs) << "after " << ticks << " ticks";
    Readable(fd, timeout);
    loop.RunDue();
  }
  EXPECT_EQ(ticks, 3);
}

// A poll() timeout never ends early, so one wait of the reported time finds
// the tick due, and RunDue delivers it: no wake-up is wasted.
TEST(UvMessageLoopTest, OneWaitOfTheReportedTimeFindsTheTickDue) {
  UvMessageLoop loop;
  const int fd = loop.PollDescriptor();
  int ticks = 0;
  auto timer = loop.CreateTimer([&] { ++ticks; });
  for (const std::int32_t interval : {30, 150}) {  // its own slot; sharing wake-ups
    timer->SetInterval(interval);
    timer->SetEnabled(true);
    for (int round = 0; round < 2; ++round) {
      const int timeout = loop.TimeUntilDue();
      ASSERT_GT(timeout, 0) << interval << " ms, round " << round;
      ASSERT_LE(timeout, interval + static_cast<int>(UvTimerQueue::SlackFor(interval)) + kRoundedUpMs);
      EXPECT_FALSE(Readable(fd, timeout));
      EXPECT_EQ(loop.TimeUntilDue(), 0);
      const int before = ticks;
      loop.RunDue();
      EXPECT_EQ(ticks, before + 1) << interval << " ms, round " << round;
    }
    timer->SetEnabled(false);
  }
}

TEST(UvMessageLoopTest, TimeUntilDueFollowsTheFirstRunningTimer) {
  UvMessageLoop loop;
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
  auto slow = loop.CreateTimer([] {});
  auto fast = loop.CreateTimer([] {});
  slow->SetInterval(kWatchdogMilliseconds);
  fast->SetInterval(kWatchdogMilliseconds / 2);
  slow->SetEnabled(true);
  EXPECT_GT(loop.TimeUntilDue(), kWatchdogMilliseconds / 2 + 2 + kRoundedUpMs);
  EXPECT_LE(loop.TimeUntilDue(), kWatchdogMilliseconds + 2 + kRoundedUpMs);
  fast->SetEnabled(true);
  EXPECT_LE(loop.TimeUntilDue(), kWatchdogMilliseconds / 2 + 2 + kRoundedUpMs);
  fast.reset();
  EXPECT_GT(loop.TimeUntilDue(), kWatchdogMilliseconds / 2 + 2 + kRoundedUpMs);
  slow->SetInterval(0);
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
  slow->SetInterval(40);
  EXPECT_LE(loop.TimeUntilDue(), 40 + kRoundedUpMs);
  slow->SetEnabled(false);
  EXPECT_EQ(loop.TimeUntilDue(), MessageLoop::kNoTickDue);
}

// Milliseconds of the monotonic clock, which the loop counts in too.
std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Enables both within one millisecond, so that they fall due together.
bool EnableTogether(Timer& first, Timer& second) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::int64_t before = NowMs();
    first.SetEnabled(true);
    second.SetEnabled(true);
    if (NowMs() == before) return true;
    first.SetEnabled(false);
    second.SetEnabled(false);
  }
  return false;
}

// Enables `early`, then `late` once the clock has moved into the next
// millisecond; false if this took so long that they are no longer due within
// a 200 ms timer's slack of each other.
bool EnableAMillisecondApart(Timer& early, Timer& late) {
  const std::int64_t before = NowMs();
  early.SetEnabled(true);
  const std::int64_t armed_early = NowMs();
  while (NowMs() == armed_early) {
  }
  late.SetEnabled(true);
  return NowMs() - before <= 2;
}

constexpr const char* kHeldUp = "held up while arming";

// Stop inside the first tick of two due together holds the second back: it
// is due, so the answer is 0, and the next RunDue delivers it at once.
TEST(UvMessageLoopTest, TickHeldBackByStopIsDueAtOnce) {
  UvMessageLoop loop;
  std::vector<std::string> ticks;
  auto first = loop.CreateTimer([&] {
    ticks.push_back("first");
    loop.Stop();
  });
  auto second = loop.CreateTimer([&] { ticks.push_back("second"); });
  first->SetInterval(20);
  second->SetInterval(20);
  if (!EnableTogether(*first, *second)) GTEST_SKIP() << kHeldUp;
  ASSERT_TRUE(testing::RunUntilStopped(loop));
  ASSERT_THAT(ticks, ElementsAre("first"));
  first->SetEnabled(false);
  EXPECT_EQ(loop.TimeUntilDue(), 0);
  loop.RunDue();
  EXPECT_THAT(ticks, ElementsAre("first", "second"));
  EXPECT_GT(loop.TimeUntilDue(), 0);
}

// Two long timers due a millisecond apart share a wake-up: the host is told
// the later time, and one wait delivers both.
TEST(UvMessageLoopTest, HostIsWokenOnceForTicksDueWithinTheSlack) {
  UvMessageLoop loop;
  int ticks = 0;
  auto early = loop.CreateTimer([&] { ++ticks; });
  auto late = loop.CreateTimer([&] { ++ticks; });
  early->SetInterval(200);
  late->SetInterval(200);
  if (!EnableAMillisecondApart(*early, *late)) GTEST_SKIP() << kHeldUp;
  EXPECT_FALSE(Readable(loop.PollDescriptor(), loop.TimeUntilDue()));
  loop.RunDue();
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace dovel::platform
