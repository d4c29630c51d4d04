#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/error_report.h"
#include "config/mod_globals.h"
#include "config/report_sites.h"
#include "error_log_fixture.h"
#include "platform/clock/settable_clock.h"

namespace dovel::errorlog {
namespace {

using ::testing::ElementsAre;

TEST_F(ErrorLog, ReportsAppendAndARemarkIsTheLastField) {
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(5, u"clsMessage", u"Create()", std::int16_t{10}, 46095, 0.5)),
            std::error_code());
  ASSERT_EQ(object_.Call(u"Clear", {}, nullptr), std::error_code());
  ASSERT_EQ(Report(object_, AddArguments(1392, u"clsMessages", u"FirstMsg[Get]", std::int16_t{-3}, 46095, 0),
                   u"chain broken at 17"),
            std::error_code());

  EXPECT_THAT(Lines(), ElementsAre("2026-03-14\t12:00:00\tDovel\t1.0.31\tCOMM\tclsMessage\tCreate()\t5\t10",
                                   "2026-03-14\t00:00:00\tDovel\t1.0.31\tCOMM\tclsMessages\tFirstMsg[Get]\t1392\t-3"
                                   "\tchain broken at 17"));
}

TEST_F(ErrorLog, DateAndTimeTakeOnlyTheirOwnPart) {
  StartUp(object_);
  // A date argument with a time in it and a time argument with days in it.
  ASSERT_EQ(Report(object_, AddArguments(1, u"m", u"p", std::int16_t{0}, 36526.75, 3.25)), std::error_code());
  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t06:00:00\tDovel\t1.0.31\tCOMM\tm\tp\t1\t0"));
}

TEST_F(ErrorLog, TheLevelIsReadAtAddAndAMissingOneIsTheWarningLevel) {
  StartUp(object_);
  std::int16_t level = 2;
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", automation::Int16Ref{&level})), std::error_code());
  level = 9;
  ASSERT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  ASSERT_EQ(Report(object_, AddArguments(2, u"m", u"p", automation::Missing{})), std::error_code());

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0]).at(8), "2");
  EXPECT_EQ(Fields(lines[1]).at(8), "4");
}

TEST_F(ErrorLog, NothingIsLoggedWithoutAPendingReport) {
  StartUp(object_);
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", std::int16_t{0})), std::error_code());
  ASSERT_EQ(object_.PutProperty(u"AddlText", u"dropped"), std::error_code());
  ASSERT_EQ(object_.Call(u"Clear", {}, nullptr), std::error_code());
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  EXPECT_FALSE(fs::exists(LogFile()));

  // Clear dropped the remark too: it does not attach itself to the next report.
  Variant remark;
  ASSERT_EQ(object_.GetProperty(u"AddlText", remark), std::error_code());
  EXPECT_EQ(remark, Variant(std::u16string()));
}

TEST_F(ErrorLog, WithoutClearTheNextAddReplacesTheReport) {
  // The GUID procedures report without Clear.
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(1, u"frmMsgQueue", u"GetGUID()", std::int16_t{0})), std::error_code());
  ASSERT_EQ(Report(object_, AddArguments(2, u"frmMsgQueue", u"GuidString()", std::int16_t{0})), std::error_code());
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0]).at(6), "GetGUID()");
  EXPECT_EQ(Fields(lines[1]).at(6), "GuidString()");
}

TEST_F(ErrorLog, ControlCharactersCannotSplitLinesOrFields) {
  ASSERT_EQ(object_.PutProperty(u"AppErrorFile", u"Comm.err"), std::error_code());
  ASSERT_EQ(object_.PutProperty(u"AppName", u"Dov\u2028el"), std::error_code());
  ASSERT_EQ(object_.PutProperty(u"AppVersion", u"1\r\n2"), std::error_code());
  ASSERT_EQ(object_.PutProperty(u"FileSection", std::u16string(u"CO\0MM", 5)), std::error_code());
  ASSERT_EQ(Report(object_, AddArguments(13, u"frm\nMsg\tQueue", u"Load()\x1b[2J", std::int16_t{1}),
                   u"first\nsecond\x85third\x7f"),
            std::error_code());

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(Fields(lines[0]), ElementsAre("2000-01-01", "18:00:00", "Dov el", "1  2", "CO MM", "frm Msg Queue",
                                            "Load() [2J", "13", "1", "first second third "));
}

TEST_F(ErrorLog, TextIsWrittenAsUtf8) {
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(1, u"m\u00F6d", u"p", std::int16_t{0}), u"\U0001F600"), std::error_code());
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(5),
            "m\xC3\xB6"
            "d");
  EXPECT_EQ(Fields(lines[0]).at(9), "\xF0\x9F\x98\x80");
}

TEST_F(ErrorLog, LogErrorWithoutAFileNameIsABadFileName) {
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", std::int16_t{0})), std::error_code());
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), RuntimeError::kBadFileName);
  EXPECT_FALSE(fs::exists(log_dir_));
}

TEST_F(ErrorLog, TheFileNameCannotLeaveTheLogDirectory) {
  StartUp(object_);
  for (const char16_t* name : {u"", u".", u"..", u"../escape.err", u"sub/x.err", u"C:\\logs\\x.err", u"a\nb"}) {
    EXPECT_EQ(object_.PutProperty(u"AppErrorFile", name), RuntimeError::kInvalidPropertyValue)
        << automation::ToUtf8(name);
  }
  Variant file;
  ASSERT_EQ(object_.GetProperty(u"AppErrorFile", file), std::error_code());
  EXPECT_EQ(file, Variant(u"Comm.err"));
}

TEST_F(ErrorLog, MembersAndTheirArgumentsAreChecked) {
  StartUp(object_);
  std::array<Variant, 15> fifteen;
  std::array<Variant, 1> one{Variant(std::int16_t{1})};
  EXPECT_EQ(object_.Call(u"Add", std::span(fifteen), nullptr), RuntimeError::kWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Add", std::span(fifteen).first(13), nullptr), RuntimeError::kWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Add", {}, nullptr), RuntimeError::kWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"LogError", one, nullptr), RuntimeError::kWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Clear", one, nullptr), RuntimeError::kWrongArgumentCount);

  Variant out;
  EXPECT_EQ(object_.Call(u"Flush", {}, nullptr), RuntimeError::kMemberNotFound);
  EXPECT_EQ(object_.PutProperty(u"AppTitle", u"x"), RuntimeError::kMemberNotFound);
  EXPECT_EQ(object_.GetProperty(u"LogError", out), RuntimeError::kMemberNotFound);

  EXPECT_EQ(object_.PutProperty(u"AppName", std::int32_t{1}), RuntimeError::kTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"AddlText", automation::Missing{}), RuntimeError::kTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"AppErrorFile", 2.0), RuntimeError::kTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"WarningLevel", u"high"), RuntimeError::kTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"WarningLevel", std::int32_t{40000}), RuntimeError::kOverflow);

  const auto with = [](std::size_t index, Variant value) {
    auto args = AddArguments(1, u"m", u"p", std::int16_t{0});
    args[index] = std::move(value);
    return args;
  };
  for (auto args : {with(0, u"twelve"), with(0, automation::Missing{}), with(0, 3e9), with(4, u"2000-01-01"),
                    with(5, automation::Missing{}), with(7, std::int16_t{1}), with(8, automation::ByteArray{}),
                    with(13, u"x"), with(13, automation::Int16Ref{}), with(13, std::int32_t{70000})}) {
    EXPECT_NE(object_.Call(u"Add", args, nullptr), std::error_code());
  }
  EXPECT_EQ(Add(object_, with(4, u"2000-01-01")), RuntimeError::kTypeMismatch);
  EXPECT_EQ(Add(object_, with(0, 3e9)), RuntimeError::kOverflow);
  // None of the refused calls left anything behind to log.
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST_F(ErrorLog, ARefusedAddKeepsThePendingReport) {
  StartUp(object_);
  ASSERT_EQ(Add(object_, AddArguments(11, u"m", u"first", std::int16_t{0})), std::error_code());
  auto bad = AddArguments(12, u"m", u"second", std::int16_t{0});
  bad[4] = u"not a date";
  EXPECT_EQ(object_.Call(u"Add", bad, nullptr), RuntimeError::kTypeMismatch);
  ASSERT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(6), "first");
}

TEST_F(ErrorLog, CoercibleArgumentsAreAcceptedAndNamesIgnoreCase) {
  ASSERT_EQ(object_.PutProperty(u"apperrorfile", u"Comm.err"), std::error_code());
  ASSERT_EQ(object_.PutProperty(u"WARNINGLEVEL", u" 12 "), std::error_code());
  Variant level;
  ASSERT_EQ(object_.GetProperty(u"WarningLevel", level), std::error_code());
  EXPECT_EQ(level, Variant(std::int16_t{12}));

  auto args = AddArguments(0, u"", u"", automation::Missing{});
  args[0] = u"380";
  args[4] = 36526.0;
  args[5] = std::int16_t{0};
  args[7] = automation::Missing{};
  args[8] = Variant();
  ASSERT_EQ(object_.Call(u"aDD", args, nullptr), std::error_code());
  ASSERT_EQ(object_.Call(u"logerror", {}, nullptr), std::error_code());
  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t00:00:00\t\t\t\t\t\t380\t12"));
}

TEST_F(ErrorLog, TheStandardReportThroughTheRegisteredSubstitute) {
  automation::ClassTable table;
  RegisterErrorLogSubstitute(table);
  automation::ObjectRef object;
  ASSERT_EQ(table.CreateObject(kProgId, object), std::error_code());
  ASSERT_NE(dynamic_cast<ErrorLogObject*>(object.get()), nullptr);
  StartUp(*object);

  platform::SettableClock clock({2026, 3, 14, 9, 26, 53, 589});
  platform::ScopedOverride<platform::Clock> use_clock(clock);
  g_iWarningLevel = 7;
  g_oErrorObject = object;
  config::StandardErrorReport(config::sites::kMessageLoad, 1392);
  clock.AdvanceMilliseconds(15 * 3600 * 1000);
  config::StandardErrorReport(config::sites::kInitApplicationVariables, 429);
  config::StandardErrorReport(config::sites::kGetGuid, 1);
  g_oErrorObject.reset();
  g_iWarningLevel = 0;

  EXPECT_THAT(Lines(), ElementsAre("2026-03-14\t09:26:53\tDovel\t1.0.31\tCOMM\tclsMessage\tLoad()\t1392\t7",
                                   "2026-03-15\t00:26:53\tDovel\t1.0.31\tCOMM\tmodGlobals\tInitApplicationVariables()"
                                   "\t429\t10",
                                   "2026-03-15\t00:26:53\tDovel\t1.0.31\tCOMM\tfrmMsgQueue\tGetGUID()\t1\t7"));
}

}  // namespace
}  // namespace dovel::errorlog
