#pragma once

#include <string>

#include "platform/core/current.h"

namespace dovel::platform {

// The account the process runs as, where that decides where it may write.
// Threads: both members may be called from any thread.
class UserAccount {
 public:
  virtual ~UserAccount() = default;

  // Whether the process runs with the superuser's rights (effective user 0).
  virtual bool IsSuperuser() = 0;

  // The account's home directory: $HOME, else the user database's entry;
  // empty when neither names one.
  virtual std::string HomeDirectory() = 0;
};

// POSIX only.
template <>
UserAccount& SystemDefault<UserAccount>();

inline UserAccount& CurrentUserAccount() { return Current<UserAccount>::Get(); }

}  // namespace dovel::platform
