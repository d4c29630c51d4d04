// A running timer of the libuv loop keeps its own schedule, on its own
// libuv handle (short intervals) as in the shared slots (long ones). Ticks
// here take time by spinning, as real work would; the assertions are on the
// order of events only, with tens of milliseconds between the orders a
// schedule and a countdown from each tick would give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/loop/real_loop_support.h"
#include "platform/loop/uv_message_loop.h"

namespace dovel::platform {
namespace {

using ::testing::ElementsAre;

using testing::RunWithin;

void Spin(std::int32_t milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until) {
  }
}

std::vector<std::string> First(const std::vector<std::string>& events, std::size_t count) {
  return std::vector<std::string>(events.begin(), events.begin() + std::min(events.size(), count));
}

class UvTimerScheduleTest : public ::testing::TestWithParam<std::int32_t> {};

// Each tick takes 60% of the interval. On its schedule the third tick is due
// at 3 intervals, before the witness at 3.5; counted from the end of each
// tick it would be due at 4.2.
TEST_P(UvTimerScheduleTest, TicksThatTakeTimeDoNotSlowTheRate) {
  const std::int32_t interval = GetParam();
  UvMessageLoop loop;
  std::vector<std::string> events;
  auto repeating = loop.CreateTimer([&] {
    events.push_back("tick");
    Spin(interval * 6 / 10);
  });
  auto witness = loop.CreateTimer([&] { events.push_back("witness"); });
  repeating->SetInterval(interval);
  witness->SetInterval(interval * 7 / 2);
  repeating->SetEnabled(true);
  witness->SetEnabled(true);
  ASSERT_TRUE(RunWithin(loop, [&] { return events.size() >= 4; }));
  EXPECT_THAT(First(events, 4), ElementsAre("tick", "tick", "tick", "witness"));
}

// Work holds the loop for 3.5 intervals: one late tick for the three that
// fell due meanwhile, then the schedule again at 4 intervals, before the
// witness at 4.25. A burst would deliver more than one tick at once; counting
// from the late tick would put the next one at 4.5, after the witness.
TEST_P(UvTimerScheduleTest, LoopHeldUpGivesOneLateTickThenTheSchedule) {
  const std::int32_t interval = GetParam();
  UvMessageLoop loop;
  std::vector<std::string> events;
  auto repeating = loop.CreateTimer([&] { events.push_back("tick"); });
  auto witness = loop.CreateTimer([&] { events.push_back("witness"); });
  repeating->SetInterval(interval);
  witness->SetInterval(interval * 17 / 4);
  repeating->SetEnabled(true);
  witness->SetEnabled(true);
  loop.Post([&] { Spin(interval * 7 / 2); });
  ASSERT_TRUE(RunWithin(loop, [&] { return events.size() >= 3; }));
  EXPECT_THAT(First(events, 3), ElementsAre("tick", "tick", "witness"));
}

INSTANTIATE_TEST_SUITE_P(ShortAndLong, UvTimerScheduleTest, ::testing::Values(90, 200),
                         [](const ::testing::TestParamInfo<std::int32_t>& param) {
                           return std::to_string(param.param) + "ms";
                         });

}  // namespace
}  // namespace dovel::platform
