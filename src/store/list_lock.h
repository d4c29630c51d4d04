#pragma once

#include <cstdint>
#include <system_error>

#include "store/cls_messages.h"

namespace dovel::store {

// Holds a list's cross-process lock while its links change. The lock lives
// on the list head's own block (no field of the layout is involved) and the
// system drops it when its holder dies, so a crashed client cannot wedge the
// list. The server takes it around the links of a dispatch; a client takes
// it around linking a new message at the end, so the two never interleave.
// Processes that do not take it see the list exactly as before.
class ListLock {
 public:
  // How long the server's tick waits before it gives up for this tick.
  static constexpr std::uint32_t kTickTimeoutMs = 20;

  ListLock(const clsMessages& list, std::uint32_t timeout_ms) : list_(list), status_(list.block_.Lock(timeout_ms)) {}
  ~ListLock() {
    if (!status_) list_.block_.Unlock();
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;

  bool held() const { return !status_; }
  // Success, SystemError::kWaitTimeout (still taken after the wait),
  // RuntimeError::kNotAttached, or the system's code of another failure.
  [[nodiscard]] std::error_code status() const { return status_; }

 private:
  const clsMessages& list_;
  std::error_code status_;
};

}  // namespace dovel::store
