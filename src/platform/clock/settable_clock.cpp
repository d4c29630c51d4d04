#include "platform/clock/settable_clock.h"

#include <chrono>

namespace dovel::platform {

float SettableClock::SecondsSinceMidnight() { return SecondsSinceMidnightOf(Now()); }

LocalDateTime SettableClock::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void SettableClock::Set(const LocalDateTime& t) {
  std::lock_guard lock(mutex_);
  now_ = t;
}

void SettableClock::AdvanceMilliseconds(std::int64_t ms) {
  using namespace std::chrono;
  std::lock_guard lock(mutex_);
  const sys_days day = year_month_day{year{now_.year}, month{static_cast<unsigned>(now_.month)},
                                      std::chrono::day{static_cast<unsigned>(now_.day)}};
  const milliseconds in_day = hours{now_.hour} + minutes{now_.minute} + seconds{now_.second} +
                              milliseconds{now_.millisecond};
  const sys_time<milliseconds> then = day + in_day + milliseconds{ms};
  const sys_days then_day = floor<days>(then);
  const year_month_day ymd{then_day};
  const hh_mm_ss<milliseconds> tod{then - then_day};
  now_ = LocalDateTime{static_cast<int>(ymd.year()),
                       static_cast<int>(static_cast<unsigned>(ymd.month())),
                       static_cast<int>(static_cast<unsigned>(ymd.day())),
                       static_cast<int>(tod.hours().count()),
                       static_cast<int>(tod.minutes().count()),
                       static_cast<int>(tod.seconds().count()),
                       static_cast<int>(tod.subseconds().count())};
}

}  // namespace dovel::platform
