#pragma once

#include <cstdint>
#include <mutex>

#include "platform/clock/clock.h"

namespace dovel::platform {

// A clock that tests set and advance by hand. Advancing past midnight rolls
// the date over, so the seconds-since-midnight reading falls back to 0 as the
// real one does.
class SettableClock final : public Clock {
 public:
  explicit SettableClock(LocalDateTime start = {2026, 1, 1, 12, 0, 0, 0}) : now_(start) {}

  float SecondsSinceMidnight() override;
  LocalDateTime Now() override;

  void Set(const LocalDateTime& t);
  void AdvanceMilliseconds(std::int64_t ms);

 private:
  std::mutex mutex_;
  LocalDateTime now_;
};

}  // namespace dovel::platform
