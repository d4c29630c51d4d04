#include "platform/process/settable_user_account.h"

namespace dovel::platform {

std::string SettableUserAccount::HomeDirectory() {
  std::lock_guard lock(mutex_);
  return home_;
}

void SettableUserAccount::SetHomeDirectory(std::string home) {
  std::lock_guard lock(mutex_);
  home_ = std::move(home);
}

}  // namespace dovel::platform
