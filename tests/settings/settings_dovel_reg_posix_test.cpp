// `dovel reg` run as the administrator would, against a store of the test's
// own.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "config/mod_globals.h"
#include "platform/registry/registry_test_support.h"
#include "platform/registry/sqlite_registry.h"

namespace dovel {
namespace {

using ::testing::HasSubstr;

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  close(fd);
  return text;
}

CommandResult DovelReg(std::vector<std::string> args) {
  CommandResult run;
  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return run;
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<char*> argv;
    std::string program = DOVEL_PROGRAM;
    std::string subcommand = "reg";
    argv.push_back(program.data());
    argv.push_back(subcommand.data());
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  // Both are small; stderr first cannot block the child on a full stdout.
  run.err = Drain(err[0]);
  run.out = Drain(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return run;
}

constexpr const char* kComm = "HKLM\\Software\\Ostrel\\Vimra\\Communications";

class DovelRegTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }
  testing::TempRegistry temp_;
};

TEST_F(DovelRegTest, SetGetListAndDelete) {
  CommandResult run = DovelReg({"get", kComm, "StandardPollRate"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("no such key"));
  EXPECT_FALSE(std::filesystem::exists(temp_.path())) << "a read created the store";

  run = DovelReg({"set", kComm, "StandardPollRate", "250"});
  EXPECT_EQ(run.status, 0) << run.err;
  run = DovelReg({"get", "hkey_local_machine\\SOFTWARE\\ostrel\\vimra\\communications", "standardpollrate"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "250\n");

  platform::SqliteRegistry registry;
  const std::uint32_t dword = 7;
  ASSERT_EQ(testing::WriteStored(registry, platform::kHkeyLocalMachine, "Software\\Ostrel\\Vimra\\Communications\\Sub",
                                 "Count", platform::reg_type::kDword,
                                 std::string_view(reinterpret_cast<const char*>(&dword), 4)),
            std::error_code());
  EXPECT_EQ(testing::ReadStored(registry, platform::kHkeyLocalMachine, "Software\\Ostrel\\Vimra\\Communications",
                                "StandardPollRate")
                .bytes,
            std::string("250\0", 4))
      << "stored as the server writes text";
  run = DovelReg({"list", kComm});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Sub\\\nStandardPollRate\tREG_SZ\t250\n");
  run = DovelReg({"get", std::string(kComm) + "\\Sub", "Count"});
  EXPECT_EQ(run.out, "7\n");
  const auto listed = nlohmann::json::parse(DovelReg({"list", "--json", kComm}).out);
  EXPECT_EQ(listed["subkeys"], nlohmann::json::array({"Sub"}));
  EXPECT_EQ(listed["values"][0], (nlohmann::json{{"name", "StandardPollRate"}, {"type", "REG_SZ"}, {"value", "250"}}));
  const auto count = nlohmann::json::parse(DovelReg({"get", std::string(kComm) + "\\Sub", "Count", "--json"}).out);
  EXPECT_EQ(count["value"], 7) << "a DWORD is a JSON number";

  EXPECT_EQ(DovelReg({"delete", kComm, "StandardPollRate"}).status, 0);
  run = DovelReg({"delete", kComm, "StandardPollRate"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("no value StandardPollRate"));
}

TEST_F(DovelRegTest, TheServerReadsWhatTheAdministratorSet) {
  ASSERT_EQ(DovelReg({"set", kComm, "StandardPollRate", " 250 "}).status, 0);
  ASSERT_EQ(DovelReg({"set", "HKLM\\Software\\Ostrel\\Vimra\\Setup", "WarningLevel", "2"}).status, 0);
  InitApplicationVariables();
  EXPECT_EQ(g_iStandardPollRate, 250);
  EXPECT_EQ(g_iWarningLevel, 2);
  g_oErrorObject.reset();
}

TEST_F(DovelRegTest, BadCommandsFailWithAReason) {
  CommandResult run = DovelReg({"get", "HKXX\\Software", "x"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("not a registry root"));
  run = DovelReg({"set", kComm, "x"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("Usage: dovel reg get"));
  EXPECT_EQ(DovelReg({"frobnicate", kComm}).status, 2);
  EXPECT_EQ(DovelReg({"--json", "set", kComm, "x", "1"}).status, 2) << "set takes no --json";
  run = DovelReg({"set", "HKLM\\Software\\\\Ostrel", "x", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("bad key path"));

  temp_.Use("/proc/version/registry.db");
  run = DovelReg({"set", kComm, "x", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("cannot create"));
}

}  // namespace
}  // namespace dovel
