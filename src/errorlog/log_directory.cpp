#include "errorlog/log_directory.h"

#include <cstdlib>

#include "errorlog/error_log_object.h"
#if !defined(_WIN32)
#include "platform/process/user_account.h"
#endif

namespace dovel::errorlog {
namespace {

namespace fs = std::filesystem;

// The value of an environment variable; empty when unset.
std::string_view Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

}  // namespace

fs::path LogDirectory() {
  if (const std::string_view configured = Variable(kLogDirectoryVariable); !configured.empty()) {
    return fs::path(configured);
  }
#if defined(_WIN32)
  // The machine-wide data folder; a component in a server nobody watches has
  // no user folder worth writing to.
  if (const std::string_view data = Variable("ProgramData"); !data.empty()) {
    return fs::path(data) / kWindowsLogSubdirectory;
  }
  return fs::path(kDefaultLogDirectory);
#else
  platform::UserAccount& account = platform::CurrentUserAccount();
  if (account.IsSuperuser()) return fs::path(kDefaultLogDirectory);
  if (const fs::path state(Variable("XDG_STATE_HOME")); state.is_absolute()) return state / kUserLogSubdirectory;
  if (const fs::path home(account.HomeDirectory()); !home.empty()) {
    return home / ".local" / "state" / kUserLogSubdirectory;
  }
  return fs::path(kDefaultLogDirectory);
#endif
}

}  // namespace dovel::errorlog
