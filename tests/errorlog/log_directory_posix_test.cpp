// Where the error log goes when DOVEL_LOG_DIR does not say: the superuser
// keeps the system's log directory, anyone else, who cannot write there,
// gets a directory of their own.

#include <gtest/gtest.h>

#include "error_log_fixture.h"
#include "errorlog/log_directory.h"
#include "platform/process/settable_user_account.h"

namespace dovel::errorlog {
namespace {

using dovel::testing::ScopedEnv;

class LogDirectoryChoice : public ::testing::Test {
 protected:
  platform::SettableUserAccount account_{false, "/home/ann"};
  platform::ScopedOverride<platform::UserAccount> use_account_{account_};
  ScopedEnv no_configured_{kLogDirectoryVariable, ""};
  ScopedEnv state_{"XDG_STATE_HOME", "/srv/state"};
};

TEST_F(LogDirectoryChoice, FollowsTheAccount) {
  EXPECT_EQ(LogDirectory(), fs::path("/srv/state/dovel"));
  {
    // Unset or relative: the variable does not count.
    ScopedEnv relative("XDG_STATE_HOME", "state");
    EXPECT_EQ(LogDirectory(), fs::path("/home/ann/.local/state/dovel"));
    ScopedEnv empty("XDG_STATE_HOME", "");
    EXPECT_EQ(LogDirectory(), fs::path("/home/ann/.local/state/dovel"));
    account_.SetHomeDirectory("");
    EXPECT_EQ(LogDirectory(), fs::path("/var/log/dovel"));
  }
  account_.SetSuperuser(true);
  EXPECT_EQ(LogDirectory(), fs::path("/var/log/dovel"));
}

TEST_F(LogDirectoryChoice, TheVariableDecidesForEveryone) {
  ScopedEnv configured(kLogDirectoryVariable, "/tmp/elsewhere");
  EXPECT_EQ(LogDirectory(), fs::path("/tmp/elsewhere"));
  account_.SetSuperuser(true);
  EXPECT_EQ(LogDirectory(), fs::path("/tmp/elsewhere"));
}

TEST_F(ErrorLog, AnAccountThatIsNotTheSuperuserLogsToItsStateDirectory) {
  platform::SettableUserAccount account(false, (root_ / "home").string());
  platform::ScopedOverride<platform::UserAccount> use_account(account);
  ScopedEnv no_configured(kLogDirectoryVariable, "");
  ScopedEnv no_state("XDG_STATE_HOME", "");
  StartUp(object_);
  ASSERT_EQ(Report(object_, AddArguments(13, u"m", u"p", std::int16_t{1})), std::error_code());
  EXPECT_TRUE(fs::is_regular_file(root_ / "home" / ".local" / "state" / "dovel" / "Comm.err"));
}

}  // namespace
}  // namespace dovel::errorlog
