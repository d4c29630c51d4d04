#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/process/user_account.h"

namespace dovel::platform {

// An account that tests choose.
class SettableUserAccount final : public UserAccount {
 public:
  SettableUserAccount(bool superuser, std::string home) : superuser_(superuser), home_(std::move(home)) {}

  bool IsSuperuser() override { return superuser_.load(); }
  std::string HomeDirectory() override;

  void SetSuperuser(bool superuser) { superuser_.store(superuser); }
  void SetHomeDirectory(std::string home);

 private:
  std::atomic<bool> superuser_;
  std::mutex mutex_;
  std::string home_;
};

}  // namespace dovel::platform
