#include "errorlog/error_log_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/error_report.h"
#include "config/mod_globals.h"
#include "config/report_sites.h"
#include "platform/automation/conversions.h"
#include "platform/automation/text.h"
#include "platform/clock/settable_clock.h"

namespace dovel::errorlog {
namespace {

namespace automation = platform::automation;
namespace fs = std::filesystem;
using automation::Variant;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Points DOVEL_LOG_DIR at a directory that does not exist yet, inside a
// private temporary directory removed afterwards.
class ErrorLog : public ::testing::Test {
 protected:
  ErrorLog() {
    std::string pattern = (fs::temp_directory_path() / "dovel-errorlog-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    log_dir_ = root_ / "logs" / "dovel";
    if (const char* previous = getenv(kLogDirectoryVariable)) previous_ = previous;
    setenv(kLogDirectoryVariable, log_dir_.c_str(), 1);
  }

  ~ErrorLog() override {
    if (previous_) setenv(kLogDirectoryVariable, previous_->c_str(), 1);
    else unsetenv(kLogDirectoryVariable);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // What the system puts on a new object at start-up.
  static void StartUp(automation::Dispatch& object) {
    ASSERT_EQ(object.PutProperty(u"AppName", u"Dovel"), 0);
    ASSERT_EQ(object.PutProperty(u"AppVersion", u"1.0.31"), 0);
    ASSERT_EQ(object.PutProperty(u"WarningLevel", std::int16_t{4}), 0);
    ASSERT_EQ(object.PutProperty(u"AppErrorFile", u"Comm.err"), 0);
    ASSERT_EQ(object.PutProperty(u"FileSection", u"COMM"), 0);
  }

  // Add's arguments as the standard report passes them.
  static std::array<Variant, 14> AddArguments(std::int32_t number, std::u16string module, std::u16string procedure,
                                              Variant level, double day = 36526, double time = 0.75) {
    std::array<Variant, 14> args;
    args.fill(automation::Missing{});
    args[0] = number;
    args[4] = automation::Date{day};
    args[5] = automation::Date{time};
    args[7] = std::move(module);
    args[8] = std::move(procedure);
    args[13] = std::move(level);
    return args;
  }

  static std::int32_t Add(automation::Dispatch& object, std::array<Variant, 14> args) {
    return object.Call(u"Add", args, nullptr);
  }

  static std::int32_t Report(automation::Dispatch& object, std::array<Variant, 14> args,
                             std::u16string remark = u"") {
    if (const std::int32_t error = object.Call(u"Add", args, nullptr); error != 0) return error;
    if (const std::int32_t error = object.PutProperty(u"AddlText", remark); error != 0) return error;
    return object.Call(u"LogError", {}, nullptr);
  }

  fs::path LogFile() const { return log_dir_ / "Comm.err"; }

  // The log's lines; a missing file has none. Fails if the last line is unterminated.
  std::vector<std::string> Lines() const {
    std::ifstream in(LogFile(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    if (!text.empty()) {
      EXPECT_EQ(text.back(), '\n') << "unterminated last line";
    }
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) lines.push_back(line);
    return lines;
  }

  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    return fields;
  }

  fs::path root_;
  fs::path log_dir_;
  std::optional<std::string> previous_;
  ErrorLogObject object_;
};

TEST_F(ErrorLog, OneReportIsOneLineInANewDirectory) {
  StartUp(object_);
  std::int16_t level = 7;
  ASSERT_EQ(Report(object_, AddArguments(13, u"frmMsgQueue", u"Form_Load()", automation::Int16Ref{&level})), 0);

  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t18:00:00\tDovel\t1.0.31\tCOMM\tfrmMsgQueue\tForm_Load()\t13\t7"));
  EXPECT_EQ(fs::status(log_dir_).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                fs::perms::others_exec);
}

TEST_F(ErrorLog, ReportsAppendAndARemarkIsTheLastField) {
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(5, u"clsMessage", u"Create()", std::int16_t{10}, 46095, 0.5)), 0);
  ASSERT_EQ(object_.Call(u"Clear", {}, nullptr), 0);
  ASSERT_EQ(Report(object_, AddArguments(1392, u"clsMessages", u"FirstMsg[Get]", std::int16_t{-3}, 46095, 0),
                   u"chain broken at 17"),
            0);

  EXPECT_THAT(Lines(), ElementsAre("2026-03-14\t12:00:00\tDovel\t1.0.31\tCOMM\tclsMessage\tCreate()\t5\t10",
                                   "2026-03-14\t00:00:00\tDovel\t1.0.31\tCOMM\tclsMessages\tFirstMsg[Get]\t1392\t-3"
                                   "\tchain broken at 17"));
}

TEST_F(ErrorLog, DateAndTimeTakeOnlyTheirOwnPart) {
  StartUp(object_);
  // A date argument with a time in it and a time argument with days in it.
  ASSERT_EQ(Report(object_, AddArguments(1, u"m", u"p", std::int16_t{0}, 36526.75, 3.25)), 0);
  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t06:00:00\tDovel\t1.0.31\tCOMM\tm\tp\t1\t0"));
}

TEST_F(ErrorLog, TheLevelIsReadAtAddAndAMissingOneIsTheWarningLevel) {
  StartUp(object_);
  std::int16_t level = 2;
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", automation::Int16Ref{&level})), 0);
  level = 9;
  ASSERT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  ASSERT_EQ(Report(object_, AddArguments(2, u"m", u"p", automation::Missing{})), 0);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0]).at(8), "2");
  EXPECT_EQ(Fields(lines[1]).at(8), "4");
}

TEST_F(ErrorLog, NothingIsLoggedWithoutAPendingReport) {
  StartUp(object_);
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", std::int16_t{0})), 0);
  ASSERT_EQ(object_.PutProperty(u"AddlText", u"dropped"), 0);
  ASSERT_EQ(object_.Call(u"Clear", {}, nullptr), 0);
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  EXPECT_FALSE(fs::exists(LogFile()));

  // Clear dropped the remark too: it does not attach itself to the next report.
  Variant remark;
  ASSERT_EQ(object_.GetProperty(u"AddlText", remark), 0);
  EXPECT_EQ(remark, Variant(std::u16string()));
}

TEST_F(ErrorLog, WithoutClearTheNextAddReplacesTheReport) {
  // The GUID procedures report without Clear.
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(1, u"frmMsgQueue", u"GetGUID()", std::int16_t{0})), 0);
  ASSERT_EQ(Report(object_, AddArguments(2, u"frmMsgQueue", u"GuidString()", std::int16_t{0})), 0);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0]).at(6), "GetGUID()");
  EXPECT_EQ(Fields(lines[1]).at(6), "GuidString()");
}

TEST_F(ErrorLog, ControlCharactersCannotSplitLinesOrFields) {
  ASSERT_EQ(object_.PutProperty(u"AppErrorFile", u"Comm.err"), 0);
  ASSERT_EQ(object_.PutProperty(u"AppName", u"Dov\u2028el"), 0);
  ASSERT_EQ(object_.PutProperty(u"AppVersion", u"1\r\n2"), 0);
  ASSERT_EQ(object_.PutProperty(u"FileSection", std::u16string(u"CO\0MM", 5)), 0);
  ASSERT_EQ(Report(object_, AddArguments(13, u"frm\nMsg\tQueue", u"Load()\x1b[2J", std::int16_t{1}),
                   u"first\nsecond\x85third\x7f"),
            0);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(Fields(lines[0]), ElementsAre("2000-01-01", "18:00:00", "Dov el", "1  2", "CO MM", "frm Msg Queue",
                                            "Load() [2J", "13", "1", "first second third "));
}

TEST_F(ErrorLog, TextIsWrittenAsUtf8) {
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(1, u"m\u00F6d", u"p", std::int16_t{0}), u"\U0001F600"), 0);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(5), "m\xC3\xB6" "d");
  EXPECT_EQ(Fields(lines[0]).at(9), "\xF0\x9F\x98\x80");
}

TEST_F(ErrorLog, UnwritableLocationsGiveAnErrorNumber) {
  StartUp(object_);
  const auto args = AddArguments(1, u"m", u"p", std::int16_t{0});

  // Under a regular file: no account, root included, can make that directory.
  setenv(kLogDirectoryVariable, "/proc/version/dovel", 1);
  EXPECT_EQ(Report(object_, args), kErrPathFileAccess);

  // The log file's name is taken by a directory.
  setenv(kLogDirectoryVariable, log_dir_.c_str(), 1);
  fs::create_directories(LogFile());
  EXPECT_EQ(Report(object_, args), kErrPathFileAccess);

  // The report is still pending, and goes out once the log can be written.
  ASSERT_EQ(object_.PutProperty(u"AppErrorFile", u"Other.err"), 0);
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  EXPECT_TRUE(fs::is_regular_file(log_dir_ / "Other.err"));
}

TEST_F(ErrorLog, LogErrorWithoutAFileNameIsABadFileName) {
  ASSERT_EQ(Add(object_, AddArguments(1, u"m", u"p", std::int16_t{0})), 0);
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), kErrBadFileName);
  EXPECT_FALSE(fs::exists(log_dir_));
}

TEST_F(ErrorLog, TheFileNameCannotLeaveTheLogDirectory) {
  StartUp(object_);
  for (const char16_t* name : {u"", u".", u"..", u"../escape.err", u"sub/x.err", u"C:\\logs\\x.err", u"a\nb"}) {
    EXPECT_EQ(object_.PutProperty(u"AppErrorFile", name), kErrInvalidPropertyValue) << automation::ToUtf8(name);
  }
  Variant file;
  ASSERT_EQ(object_.GetProperty(u"AppErrorFile", file), 0);
  EXPECT_EQ(file, Variant(u"Comm.err"));
}

TEST_F(ErrorLog, MembersAndTheirArgumentsAreChecked) {
  StartUp(object_);
  std::array<Variant, 15> fifteen;
  std::array<Variant, 1> one{Variant(std::int16_t{1})};
  EXPECT_EQ(object_.Call(u"Add", std::span(fifteen), nullptr), automation::kErrWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Add", std::span(fifteen).first(13), nullptr), automation::kErrWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Add", {}, nullptr), automation::kErrWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"LogError", one, nullptr), automation::kErrWrongArgumentCount);
  EXPECT_EQ(object_.Call(u"Clear", one, nullptr), automation::kErrWrongArgumentCount);

  Variant out;
  EXPECT_EQ(object_.Call(u"Flush", {}, nullptr), automation::kErrMemberNotFound);
  EXPECT_EQ(object_.PutProperty(u"AppTitle", u"x"), automation::kErrMemberNotFound);
  EXPECT_EQ(object_.GetProperty(u"LogError", out), automation::kErrMemberNotFound);

  EXPECT_EQ(object_.PutProperty(u"AppName", std::int32_t{1}), automation::kErrTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"AddlText", automation::Missing{}), automation::kErrTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"AppErrorFile", 2.0), automation::kErrTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"WarningLevel", u"high"), automation::kErrTypeMismatch);
  EXPECT_EQ(object_.PutProperty(u"WarningLevel", std::int32_t{40000}), automation::kErrOverflow);

  const auto with = [](std::size_t index, Variant value) {
    auto args = AddArguments(1, u"m", u"p", std::int16_t{0});
    args[index] = std::move(value);
    return args;
  };
  for (auto args : {with(0, u"twelve"), with(0, automation::Missing{}), with(0, 3e9), with(4, u"2000-01-01"),
                    with(5, automation::Missing{}), with(7, std::int16_t{1}), with(8, automation::ByteArray{}),
                    with(13, u"x"), with(13, automation::Int16Ref{}), with(13, std::int32_t{70000})}) {
    EXPECT_NE(object_.Call(u"Add", args, nullptr), 0);
  }
  EXPECT_EQ(Add(object_, with(4, u"2000-01-01")), automation::kErrTypeMismatch);
  EXPECT_EQ(Add(object_, with(0, 3e9)), automation::kErrOverflow);
  // None of the refused calls left anything behind to log.
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST_F(ErrorLog, ARefusedAddKeepsThePendingReport) {
  StartUp(object_);
  ASSERT_EQ(Add(object_, AddArguments(11, u"m", u"first", std::int16_t{0})), 0);
  auto bad = AddArguments(12, u"m", u"second", std::int16_t{0});
  bad[4] = u"not a date";
  EXPECT_EQ(object_.Call(u"Add", bad, nullptr), automation::kErrTypeMismatch);
  ASSERT_EQ(object_.Call(u"LogError", {}, nullptr), 0);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(6), "first");
}

TEST_F(ErrorLog, CoercibleArgumentsAreAcceptedAndNamesIgnoreCase) {
  ASSERT_EQ(object_.PutProperty(u"apperrorfile", u"Comm.err"), 0);
  ASSERT_EQ(object_.PutProperty(u"WARNINGLEVEL", u" 12 "), 0);
  Variant level;
  ASSERT_EQ(object_.GetProperty(u"WarningLevel", level), 0);
  EXPECT_EQ(level, Variant(std::int16_t{12}));

  auto args = AddArguments(0, u"", u"", automation::Missing{});
  args[0] = u"380";
  args[4] = 36526.0;
  args[5] = std::int16_t{0};
  args[7] = automation::Missing{};
  args[8] = Variant();
  ASSERT_EQ(object_.Call(u"aDD", args, nullptr), 0);
  ASSERT_EQ(object_.Call(u"logerror", {}, nullptr), 0);
  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t00:00:00\t\t\t\t\t\t380\t12"));
}

TEST_F(ErrorLog, ConcurrentProcessesNeverInterleaveLines) {
  StartUp(object_);
  constexpr int kProcesses = 4;
  constexpr int kReportsEach = 100;
  // Longer than a stream buffer, so a split write would show.
  const std::u16string remark(20000, u'x');

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kReportsEach; ++i) {
        failures += Report(object_, AddArguments(p, u"m", u"p", std::int16_t{0}), remark) != 0;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kReportsEach));
  std::array<int, kProcesses> per_process{};
  for (const std::string& line : lines) {
    const auto fields = Fields(line);
    ASSERT_EQ(fields.size(), 10u);
    ASSERT_EQ(fields[9], std::string(remark.size(), 'x'));
    ++per_process.at(std::stoul(fields[7]));
  }
  EXPECT_THAT(per_process, ::testing::Each(kReportsEach));
}

TEST_F(ErrorLog, TheStandardReportThroughTheRegisteredSubstitute) {
  automation::ClassTable table;
  RegisterErrorLogSubstitute(table);
  automation::ObjectRef object;
  ASSERT_EQ(table.CreateObject(kProgId, object), 0);
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
