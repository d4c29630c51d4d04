#include "config/error_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/mod_globals.h"
#include "config/report_sites.h"
#include "platform/automation/dispatch.h"
#include "platform/clock/settable_clock.h"
#include "support/recording_error_object.h"

namespace dovel::config {
namespace {

namespace automation = platform::automation;
using automation::Variant;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingErrorObject;
using testing::ScopedRecordingErrorObject;

// 2000-01-01 is day 36526; 18:00 is three quarters of a day.
const platform::LocalDateTime kReportTime{2000, 1, 1, 18, 0, 0, 250};
constexpr double kReportDay = 36526;
constexpr double kReportTimeOfDay = 0.75;
constexpr std::int16_t kWarningLevel = 7;

class StandardReport : public ::testing::Test {
 protected:
  StandardReport() : use_clock_(clock_) { g_iWarningLevel = kWarningLevel; }
  ~StandardReport() override { g_iWarningLevel = 0; }

  platform::SettableClock clock_{kReportTime};
  platform::ScopedOverride<platform::Clock> use_clock_;
};

std::vector<std::u16string> ExpectedMembers(const ReportSite& site) {
  std::vector<std::u16string> members{u"Add", u"AddlText=", u"LogError"};
  if (site.calls_clear) members.push_back(u"Clear");
  return members;
}

class EverySite : public StandardReport, public ::testing::WithParamInterface<const ReportSite*> {};

std::string SiteName(const ::testing::TestParamInfo<const ReportSite*>& info) {
  std::string name;
  for (const char16_t c : std::u16string(info.param->module) + u"_" + std::u16string(info.param->procedure)) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_') {
      name += static_cast<char>(c);
    }
  }
  return name;
}

TEST_P(EverySite, MakesTheStandardCallsWithTheStandardArguments) {
  const ReportSite& site = *GetParam();
  ScopedRecordingErrorObject recording;
  StandardErrorReport(site, 380);

  ASSERT_THAT(recording->Members(), ElementsAreArray(ExpectedMembers(site)));
  const auto& calls = recording->calls();

  const std::vector<Variant>& add = calls[0].args;
  ASSERT_EQ(add.size(), 14u);
  ASSERT_TRUE(add[0].Is<std::int32_t>());
  EXPECT_EQ(add[0].As<std::int32_t>(), 380);
  for (const std::size_t missing : {1, 2, 3, 6, 9, 10, 11, 12}) {
    EXPECT_TRUE(add[missing].Is<automation::Missing>()) << "argument " << missing + 1;
  }
  ASSERT_TRUE(add[4].Is<automation::Date>());
  EXPECT_EQ(add[4].As<automation::Date>().value, kReportDay);
  ASSERT_TRUE(add[5].Is<automation::Date>());
  EXPECT_EQ(add[5].As<automation::Date>().value, kReportTimeOfDay);
  ASSERT_TRUE(add[7].Is<std::u16string>());
  EXPECT_EQ(add[7].As<std::u16string>(), site.module);
  ASSERT_TRUE(add[8].Is<std::u16string>());
  EXPECT_EQ(add[8].As<std::u16string>(), site.procedure);

  if (site.level == ReportLevel::kTenByValue) {
    ASSERT_TRUE(add[13].Is<std::int16_t>());
    EXPECT_EQ(add[13].As<std::int16_t>(), 10);
  } else {
    ASSERT_TRUE(add[13].Is<automation::Int16Ref>());
    EXPECT_EQ(add[13].As<automation::Int16Ref>().target, &g_iWarningLevel);
    EXPECT_EQ(calls[0].level_seen_by_reference, kWarningLevel);
  }

  EXPECT_THAT(calls[1].args, ElementsAre(Variant(std::u16string())));
  for (std::size_t i = 2; i < calls.size(); ++i) EXPECT_TRUE(calls[i].args.empty()) << i;
}

TEST_P(EverySite, ContinuesPastEveryFailingCall) {
  const ReportSite& site = *GetParam();
  ScopedRecordingErrorObject recording;
  recording->FailMember(u"Add", 5);
  recording->FailMember(u"AddlText=", 438);
  recording->FailMember(u"LogError", 75);
  recording->FailMember(u"Clear", 91);
  StandardErrorReport(site, 9);
  EXPECT_THAT(recording->Members(), ElementsAreArray(ExpectedMembers(site)));
}

INSTANTIATE_TEST_SUITE_P(Sites, EverySite, ::testing::ValuesIn(sites::kAll), SiteName);

TEST_F(StandardReport, OnlyTheThreeKnownSitesSkipClearAndOnlyOneUsesLevelTen) {
  std::vector<std::u16string> without_clear;
  std::vector<std::u16string> level_ten;
  for (const ReportSite* site : sites::kAll) {
    if (!site->calls_clear) without_clear.emplace_back(site->procedure);
    if (site->level == ReportLevel::kTenByValue) level_ten.emplace_back(site->procedure);
  }
  EXPECT_THAT(without_clear, ElementsAre(u"GetGUID()", u"GuidString()", u"InitApplicationVariables()"));
  EXPECT_THAT(level_ten, ElementsAre(u"InitApplicationVariables()"));
}

TEST_F(StandardReport, ClockMovesWithTheSettableClock) {
  ScopedRecordingErrorObject recording;
  // One second before midnight, then past it: the date part follows.
  clock_.Set({2000, 1, 1, 23, 59, 59, 0});
  StandardErrorReport(sites::kFormLoad, 1);
  clock_.AdvanceMilliseconds(2000);
  StandardErrorReport(sites::kFormLoad, 2);

  const auto reports = recording->Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].args[4].As<automation::Date>().value, kReportDay);
  EXPECT_DOUBLE_EQ(reports[0].args[5].As<automation::Date>().value, 86399.0 / 86400.0);
  EXPECT_EQ(reports[1].args[4].As<automation::Date>().value, kReportDay + 1);
  EXPECT_DOUBLE_EQ(reports[1].args[5].As<automation::Date>().value, 1.0 / 86400.0);
}

TEST_F(StandardReport, NoObjectNoReportAndNoFailure) {
  const auto recording = std::make_shared<RecordingErrorObject>();
  g_oErrorObject.reset();
  for (const ReportSite* site : sites::kAll) StandardErrorReport(*site, 13);
  EXPECT_TRUE(recording->calls().empty());

  g_oErrorObject = recording;
  StandardErrorReport(sites::kFormLoad, 13);
  g_oErrorObject.reset();
  EXPECT_EQ(recording->Reports().size(), 1u);
}

TEST_F(StandardReport, UsesTheCallingThreadsObjectAndLevel) {
  ScopedRecordingErrorObject mine;
  std::vector<std::u16string> other_members;
  std::int16_t other_level = 0;
  std::thread([&] {
    // This thread has no object yet: its reports go nowhere.
    StandardErrorReport(sites::kWorkerTimer, 1);
    g_iWarningLevel = 3;
    const auto theirs = std::make_shared<RecordingErrorObject>();
    g_oErrorObject = theirs;
    StandardErrorReport(sites::kWorkerTimer, 2);
    g_oErrorObject.reset();
    other_members = theirs->Members();
    other_level = theirs->Reports().at(0).level_seen_by_reference;
  }).join();

  EXPECT_TRUE(mine->calls().empty());
  EXPECT_THAT(other_members, ElementsAre(u"Add", u"AddlText=", u"LogError", u"Clear"));
  EXPECT_EQ(other_level, 3);
}

// An object that breaks its promise not to throw, on every member.
class ThrowingObject final : public automation::Dispatch {
 public:
  std::error_code PutProperty(std::u16string_view name, const Variant&) override {
    members.push_back(std::u16string(name) + u"=");
    throw std::runtime_error("put");
  }
  std::error_code GetProperty(std::u16string_view, Variant&) override { throw std::runtime_error("get"); }
  std::error_code Call(std::u16string_view name, std::span<Variant>, Variant*) override {
    members.emplace_back(name);
    if (name == u"LogError") throw std::bad_alloc();
    throw 42;
  }
  std::vector<std::u16string> members;
};

TEST_F(StandardReport, AnObjectThatThrowsIsContainedAndStillGetsEveryCall) {
  const auto thrower = std::make_shared<ThrowingObject>();
  g_oErrorObject = thrower;
  StandardErrorReport(sites::kMessageLoad, 13);
  StandardErrorReport(sites::kGetGuid, 13);
  g_oErrorObject.reset();
  EXPECT_THAT(thrower->members, ElementsAre(u"Add", u"AddlText=", u"LogError", u"Clear",  //
                                            u"Add", u"AddlText=", u"LogError"));
}

// An object whose Add ends the thread's last reference to it, as a handler
// that closes the last queue object can.
class SelfReleasingObject final : public automation::Dispatch {
 public:
  explicit SelfReleasingObject(std::vector<std::u16string>& members) : members_(members) {}
  std::error_code PutProperty(std::u16string_view name, const Variant&) override {
    members_.push_back(std::u16string(name) + u"=");
    return {};
  }
  std::error_code GetProperty(std::u16string_view, Variant&) override { return {}; }
  std::error_code Call(std::u16string_view name, std::span<Variant>, Variant*) override {
    members_.emplace_back(name);
    if (name == u"Add") g_oErrorObject.reset();
    return {};
  }

 private:
  std::vector<std::u16string>& members_;
};

TEST_F(StandardReport, TheObjectOutlivesTheReportEvenIfTheThreadDropsIt) {
  std::vector<std::u16string> members;
  g_oErrorObject = std::make_shared<SelfReleasingObject>(members);
  StandardErrorReport(sites::kFormLoad, 13);
  EXPECT_EQ(g_oErrorObject, nullptr);
  EXPECT_THAT(members, ElementsAre(u"Add", u"AddlText=", u"LogError", u"Clear"));
}

}  // namespace
}  // namespace dovel::config
