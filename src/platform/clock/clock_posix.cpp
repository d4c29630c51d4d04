#include <time.h>

#include "platform/clock/clock.h"

namespace dovel::platform {
namespace {

class PosixClock final : public Clock {
 public:
  float SecondsSinceMidnight() override { return SecondsSinceMidnightOf(Now()); }

  LocalDateTime Now() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return LocalDateTime{local.tm_year + 1900,
                         local.tm_mon + 1,
                         local.tm_mday,
                         local.tm_hour,
                         local.tm_min,
                         local.tm_sec,
                         static_cast<int>(now.tv_nsec / 1'000'000)};
  }
};

}  // namespace

template <>
Clock& SystemDefault<Clock>() {
  static PosixClock clock;
  return clock;
}

}  // namespace dovel::platform
