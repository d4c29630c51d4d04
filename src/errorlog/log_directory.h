#pragma once

#include <filesystem>
#include <string_view>

namespace dovel::errorlog {

// The state directory's name for our logs, below $XDG_STATE_HOME.
inline constexpr std::string_view kUserLogSubdirectory = "dovel";

// Where the log files go, decided afresh at every call:
//   DOVEL_LOG_DIR when it is set and not empty;
//   Windows: <ProgramData>\Dovel\Log;
//   the superuser: /var/log/dovel;
//   anyone else, who cannot write there: $XDG_STATE_HOME/dovel, or
//   <home>/.local/state/dovel when that variable is unset, empty or
//   relative (the rule for XDG variables); /var/log/dovel when the account
//   has no home either.
std::filesystem::path LogDirectory();

}  // namespace dovel::errorlog
