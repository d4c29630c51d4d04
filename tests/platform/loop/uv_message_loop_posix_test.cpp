// What only the libuv loop has: a descriptor for a host's own poll loop. The
// contract every loop keeps is tested in real_loop_contract_test.cpp.
#include "platform/loop/uv_message_loop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <thread>

#include "platform/loop/real_loop_support.h"

namespace dovel::platform {
namespace {

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

}  // namespace
}  // namespace dovel::platform
