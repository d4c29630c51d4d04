#include "config/error_styles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/mod_globals.h"
#include "platform/clock/settable_clock.h"
#include "platform/core/error_codes.h"
#include "support/recording_error_object.h"

namespace dovel::config {
namespace {

using ::testing::ElementsAre;
using testing::ScopedRecordingErrorObject;

class ErrorStyles : public ::testing::Test {
 protected:
  ErrorStyles() : use_clock_(clock_) {}

  // The error numbers of the reports made so far.
  std::vector<std::int32_t> ReportedNumbers() const {
    std::vector<std::int32_t> numbers;
    for (const auto& report : recording_->Reports()) numbers.push_back(report.args.at(0).As<std::int32_t>());
    return numbers;
  }

  platform::SettableClock clock_;
  platform::ScopedOverride<platform::Clock> use_clock_;
  ScopedRecordingErrorObject recording_;
};

TEST_F(ErrorStyles, ReportingReportsThenRunsTheExitSection) {
  std::size_t calls_when_exit_ran = 0;
  bool after_raise = false;
  Reporting(
      sites::kWorkerTimer,
      [&] {
        Raise(RuntimeError::kSubscriptOutOfRange);
        after_raise = true;
      },
      [&] { calls_when_exit_ran = recording_->calls().size(); });
  EXPECT_FALSE(after_raise);
  EXPECT_THAT(ReportedNumbers(), ElementsAre(ErrorNumber(RuntimeError::kSubscriptOutOfRange)));
  // The whole report (Add, AddlText, LogError, Clear) precedes the exit section.
  EXPECT_EQ(calls_when_exit_ran, 4u);
  EXPECT_EQ(recording_->Reports().at(0).args.at(8).As<std::u16string>(), u"tmrWorker_Timer()");
}

TEST_F(ErrorStyles, ReportingRunsTheExitSectionAfterSuccessWithoutAReport) {
  std::vector<int> order;
  Reporting(
      sites::kFormLoad, [&] { order.push_back(1); }, [&] { order.push_back(2); });
  EXPECT_THAT(order, ElementsAre(1, 2));
  EXPECT_TRUE(recording_->calls().empty());
}

TEST_F(ErrorStyles, ErrorsInTheExitSectionAreIgnored) {
  bool exit_started = false;
  // Were the exit section's error to escape, the noexcept would end the test binary.
  Reporting(
      sites::kHeartBeatTimer, [] {},
      [&] {
        exit_started = true;
        Raise(RuntimeError::kOverflow);
      });
  EXPECT_TRUE(exit_started);
  EXPECT_TRUE(recording_->calls().empty());

  Reporting(
      sites::kHeartBeatTimer, [] { Raise(RuntimeError::kTypeMismatch); }, [] { throw std::runtime_error("exit"); });
  EXPECT_THAT(ReportedNumbers(), ElementsAre(ErrorNumber(RuntimeError::kTypeMismatch)));
}

TEST_F(ErrorStyles, ReportingMapsForeignExceptionsToErrorNumbers) {
  // Three places, so that no report is held back as a repeat.
  Reporting({sites::kTimeOutTimer, u"a"}, [] { throw std::bad_alloc(); });
  Reporting({sites::kTimeOutTimer, u"b"}, [] { throw std::logic_error("bug"); });
  Reporting({sites::kTimeOutTimer, u"c"}, [] { throw 3; });
  EXPECT_THAT(ReportedNumbers(),
              ElementsAre(ErrorNumber(RuntimeError::kOutOfMemory), ErrorNumber(RuntimeError::kInvalidProcedureCall),
                          ErrorNumber(RuntimeError::kInvalidProcedureCall)));
}

class ReportingResultAtEverySite : public ErrorStyles, public ::testing::WithParamInterface<const ReportSite*> {};

TEST_P(ReportingResultAtEverySite, TheErrorBecomesTheResultOnlyWhereTheSiteSaysSo) {
  const ReportSite& site = *GetParam();
  const std::int32_t failed = ReportingResult(site, []() -> std::int32_t { Raise(RuntimeError::kBrokenChain); });
  EXPECT_EQ(failed, site.sets_result_code ? ErrorNumber(RuntimeError::kBrokenChain) : 0);
  EXPECT_THAT(ReportedNumbers(), ElementsAre(ErrorNumber(RuntimeError::kBrokenChain)));

  EXPECT_EQ(ReportingResult(site, [] { return std::int32_t{183}; }), 183);
  EXPECT_EQ(recording_->Reports().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sites, ReportingResultAtEverySite, ::testing::ValuesIn(sites::kAll));

TEST_F(ErrorStyles, IgnoringRunsEveryStepInOrder) {
  std::vector<int> ran;
  Ignoring(
      [&] {
        ran.push_back(1);
        Raise(RuntimeError::kOverflow);
      },
      [&] { ran.push_back(2); },
      [&] {
        ran.push_back(3);
        throw std::bad_alloc();
      },
      [&] {
        ran.push_back(4);
        throw 0;
      },
      [&] { ran.push_back(5); });
  EXPECT_THAT(ran, ElementsAre(1, 2, 3, 4, 5));
  EXPECT_TRUE(recording_->calls().empty());
}

TEST_F(ErrorStyles, QuietRecoveryReturnsTheFallbackWithoutAReport) {
  EXPECT_EQ(QuietRecovery(std::u16string(u"fallback"), []() -> std::u16string { Raise(RuntimeError::kTypeMismatch); }),
            u"fallback");
  EXPECT_EQ(QuietRecovery(-1, []() -> int { throw std::bad_alloc(); }), -1);
  EXPECT_EQ(QuietRecovery(-1, [] { return 7; }), 7);
  EXPECT_TRUE(recording_->calls().empty());
}

TEST_F(ErrorStyles, PassingOnLetsTheErrorThrough) {
  try {
    PassingOn([] { Raise(RuntimeError::kBadIdentifierLength); });
    ADD_FAILURE() << "no error reached the caller";
  } catch (const RaisedError& raised) {
    EXPECT_EQ(raised.status, RuntimeError::kBadIdentifierLength);
  }
  EXPECT_EQ(PassingOn([] { return 12; }), 12);
  EXPECT_TRUE(recording_->calls().empty());
}

template <class Throw>
std::error_code NumberOf(Throw&& throw_it) {
  try {
    throw_it();
  } catch (...) {
    return TrappedError();
  }
  return SystemError::kInvalidFunction;  // nothing was thrown
}

TEST(TrappedError, MapsRaisedErrorsMemoryAndEverythingElse) {
  EXPECT_EQ(NumberOf([] { Raise(RuntimeError::kBrokenChain); }), RuntimeError::kBrokenChain);
  EXPECT_EQ(NumberOf([] { Raise({}); }), std::error_code());
  EXPECT_EQ(NumberOf([] { throw std::bad_alloc(); }), RuntimeError::kOutOfMemory);
  EXPECT_EQ(NumberOf([] { throw std::bad_array_new_length(); }), RuntimeError::kOutOfMemory);
  EXPECT_EQ(NumberOf([] { throw std::runtime_error("x"); }), RuntimeError::kInvalidProcedureCall);
  EXPECT_EQ(NumberOf([] { throw 380; }), RuntimeError::kInvalidProcedureCall);
}

}  // namespace
}  // namespace dovel::config
