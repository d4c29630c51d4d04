#include <cstdint>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/error_styles.h"
#include "config/mod_globals.h"
#include "platform/clock/settable_clock.h"
#include "support/recording_error_object.h"

namespace dovel::config {
namespace {

namespace automation = platform::automation;
using ::testing::ElementsAre;
using testing::ScopedRecordingErrorObject;

// A failure that persists at one place, reported through the thread's log.
class ReportThrottling : public ::testing::Test {
 protected:
  ReportThrottling() : use_clock_(clock_) {}

  void FailAt(const ReportPlace& place, std::int32_t number = 2) {
    Reporting(place, [&] { Raise(SystemStatus(number)); });
  }
  void SucceedAt(const ReportPlace& place) {
    Reporting(place, [] {});
  }
  // The AddlText of every report so far, in order.
  std::vector<std::u16string> Texts() const {
    std::vector<std::u16string> texts;
    for (const auto& call : recording_->calls()) {
      if (call.member == u"AddlText=") texts.push_back(call.args.at(0).As<std::u16string>());
    }
    return texts;
  }

  platform::SettableClock clock_;
  platform::ScopedOverride<platform::Clock> use_clock_;
  ScopedRecordingErrorObject recording_;
  const ReportPlace worker_{sites::kWorkerTimer, u"{queue A}"};
};

TEST_F(ReportThrottling, TheFirstReportIsAsAlwaysThenOneAMinuteWithTheCount) {
  // A 2 ms poll rate: 30,000 failures a minute.
  for (int tick = 0; tick < 30'000; ++tick) {
    FailAt(worker_);
    clock_.AdvanceMilliseconds(2);
  }
  FailAt(worker_);
  EXPECT_EQ(recording_->Members(), (std::vector<std::u16string>{u"Add", u"AddlText=", u"LogError", u"Clear", u"Add",
                                                                u"AddlText=", u"LogError", u"Clear"}));
  EXPECT_THAT(Texts(), ElementsAre(u"", u"repeated 30000 times since the last report"));
  EXPECT_EQ(recording_->Reports()[1].args.at(0), automation::Variant(std::int32_t{2}));
  EXPECT_EQ(recording_->Reports()[1].args.at(8), automation::Variant(std::u16string(u"tmrWorker_Timer()")));
}

TEST_F(ReportThrottling, ARepeatedFailureThatClearsIsReportedOnceMore) {
  FailAt(worker_);
  FailAt(worker_);
  FailAt(worker_);
  SucceedAt(worker_);
  SucceedAt(worker_);
  EXPECT_THAT(Texts(), ElementsAre(u"", u"cleared; came 2 times since the last report"));

  // Once cleared, the same failure is new again.
  FailAt(worker_);
  EXPECT_EQ(recording_->Reports().size(), 3u);
  EXPECT_EQ(Texts().back(), u"");
}

TEST_F(ReportThrottling, AOneOffFailureHasNothingToClear) {
  FailAt(worker_);
  SucceedAt(worker_);
  EXPECT_EQ(recording_->Reports().size(), 1u);
}

TEST_F(ReportThrottling, PlacesAndNumbersAreKeptApart) {
  const ReportPlace other_queue{sites::kWorkerTimer, u"{queue B}"};
  FailAt(worker_, 2);
  FailAt(worker_, 5);
  FailAt(other_queue, 2);
  FailAt({sites::kHeartBeatTimer, u"{queue A}"}, 2);
  EXPECT_EQ(recording_->Reports().size(), 4u) << "each is a failure of its own";

  // Another queue working fine says nothing about this one.
  FailAt(worker_, 2);
  SucceedAt(other_queue);
  EXPECT_EQ(recording_->Reports().size(), 4u);
  SucceedAt(worker_);
  EXPECT_THAT(Texts().back(), u"cleared; came 1 time since the last report");
}

TEST_F(ReportThrottling, AClockSetBackNeverHoldsARepeatBack) {
  FailAt(worker_);
  clock_.AdvanceMilliseconds(-3'600'000);
  FailAt(worker_);
  EXPECT_EQ(recording_->Reports().size(), 2u);
}

TEST_F(ReportThrottling, ANewErrorLogStartsAfresh) {
  FailAt(worker_);
  FailAt(worker_);
  ScopedRecordingErrorObject next;
  FailAt(worker_);
  EXPECT_EQ(next->Reports().size(), 1u) << "held back from a log it was never written to";
  EXPECT_EQ(recording_->Reports().size(), 1u);
}

TEST_F(ReportThrottling, DistinctFailuresBeyondTheMemoryAreStillReported) {
  std::vector<std::u16string> subjects;
  for (std::size_t i = 0; i < ReportThrottle::kMaxRemembered + 10; ++i) {
    subjects.push_back(u"{message " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                       std::u16string(i / 26 + 1, u'x') + u"}");
  }
  for (const auto& subject : subjects) FailAt({sites::kMessageLoad, subject});
  EXPECT_EQ(recording_->Reports().size(), subjects.size());
  // The stalest was forgotten, so it counts as new.
  FailAt({sites::kMessageLoad, subjects.front()});
  EXPECT_EQ(recording_->Reports().size(), subjects.size() + 1);
}

}  // namespace
}  // namespace dovel::config
