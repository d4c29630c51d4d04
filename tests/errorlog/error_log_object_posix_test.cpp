// The error log where POSIX shows more than Windows would: the directory's
// mode, a location no account can write, and forked processes sharing a log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "error_log_fixture.h"

namespace dovel::errorlog {
namespace {

using ::testing::ElementsAre;

TEST_F(ErrorLog, OneReportIsOneLineInANewDirectory) {
  StartUp(object_);
  std::int16_t level = 7;
  ASSERT_EQ(Report(object_, AddArguments(13, u"frmMsgQueue", u"Form_Load()", automation::Int16Ref{&level})),
            std::error_code());

  EXPECT_THAT(Lines(), ElementsAre("2000-01-01\t18:00:00\tDovel\t1.0.31\tCOMM\tfrmMsgQueue\tForm_Load()\t13\t7"));
  EXPECT_EQ(fs::status(log_dir_).permissions() & fs::perms::all, fs::perms::owner_all | fs::perms::group_read |
                                                                     fs::perms::group_exec | fs::perms::others_read |
                                                                     fs::perms::others_exec);
}

TEST_F(ErrorLog, UnwritableLocationsGiveAnErrorNumber) {
  StartUp(object_);
  const auto args = AddArguments(1, u"m", u"p", std::int16_t{0});

  // Under a regular file: no account, root included, can make that directory.
  setenv(kLogDirectoryVariable, "/proc/version/dovel", 1);
  EXPECT_EQ(Report(object_, args), RuntimeError::kPathFileAccess);

  // The log file's name is taken by a directory.
  setenv(kLogDirectoryVariable, log_dir_.c_str(), 1);
  fs::create_directories(LogFile());
  EXPECT_EQ(Report(object_, args), RuntimeError::kPathFileAccess);

  // The report is still pending, and goes out once the log can be written.
  ASSERT_EQ(object_.PutProperty(u"AppErrorFile", u"Other.err"), std::error_code());
  EXPECT_EQ(object_.Call(u"LogError", {}, nullptr), std::error_code());
  EXPECT_TRUE(fs::is_regular_file(log_dir_ / "Other.err"));
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
        failures += Report(object_, AddArguments(p, u"m", u"p", std::int16_t{0}), remark) != std::error_code();
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

}  // namespace
}  // namespace dovel::errorlog
