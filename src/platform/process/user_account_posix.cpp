#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/process/user_account.h"

namespace dovel::platform {
namespace {

class PosixUserAccount final : public UserAccount {
 public:
  bool IsSuperuser() override { return geteuid() == 0; }

  std::string HomeDirectory() override {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr) {
      return {};
    }
    return found->pw_dir;
  }
};

}  // namespace

template <>
UserAccount& SystemDefault<UserAccount>() {
  static PosixUserAccount account;
  return account;
}

}  // namespace dovel::platform
