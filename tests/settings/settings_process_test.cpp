#include <string>

#include <gtest/gtest.h>

#include "platform/process/process_info.h"

namespace dovel::platform {
namespace {

TEST(ProcessInfo, TheVersionShowsMajorMinorAndRevision) {
  EXPECT_EQ(FormatAppVersion(1, 0, 0, 31), "1.0.31");
  EXPECT_EQ(FormatAppVersion(2, 10, 7, 0), "2.10.0");
  EXPECT_EQ(FormatAppVersion(65535, 65535, 65535, 65535), "65535.65535.65535");
}

TEST(ProcessInfo, TheBuiltVersionIsTheProjectVersion) {
  const FileVersionNumbers v = BuiltFileVersion();
  const std::string four = std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
                           "." + std::to_string(v.revision);
  EXPECT_EQ(four, DOVEL_TEST_PROJECT_VERSION);
  EXPECT_EQ(CurrentProcessInfo().FileVersion(), v);
}

TEST(ProcessInfo, ProgramNamesLoseDirectoryAndLastExtension) {
  EXPECT_EQ(ProgramNameFromPath("/usr/sbin/dovel-server"), "dovel-server");
  EXPECT_EQ(ProgramNameFromPath("C:\\Apps\\Comm.exe"), "Comm");
  EXPECT_EQ(ProgramNameFromPath("/opt/x/a.b.exe"), "a.b");
  EXPECT_EQ(ProgramNameFromPath("/home/u/.hidden"), ".hidden");
  EXPECT_EQ(ProgramNameFromPath("plain"), "plain");
  EXPECT_EQ(ProgramNameFromPath("/dir.d/plain"), "plain");
}

TEST(ProcessInfo, TheRunningProgramIsThisTest) { EXPECT_EQ(CurrentProcessInfo().ExecutableName(), "settings_tests"); }

}  // namespace
}  // namespace dovel::platform
