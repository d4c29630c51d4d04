#include "platform/automation/date.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace dovel::platform::automation {
namespace {

using namespace std::chrono;

constexpr sys_days kEpoch = year{1899} / December / 30;
constexpr double kSecondsPerDay = 86400.0;

}  // namespace

Date DatePart(const LocalDateTime& moment) {
  const sys_days day = year{moment.year} / month{static_cast<unsigned>(moment.month)} /
                       std::chrono::day{static_cast<unsigned>(moment.day)};
  return Date{static_cast<double>((day - kEpoch).count())};
}

Date TimePart(const LocalDateTime& moment) {
  const int seconds = moment.hour * 3600 + moment.minute * 60 + moment.second;
  return Date{seconds / kSecondsPerDay};
}

LocalDateTime ToLocalDateTime(Date date) {
  constexpr double kFirst = -657434.0;  // 100-01-01
  constexpr double kLast = 2958465.0;   // 9999-12-31
  const double value = std::isfinite(date.value) ? std::clamp(date.value, kFirst, kLast + 0.99999) : 0.0;
  // Negative dates count whole days back but the time forward from midnight.
  const double whole_days = std::trunc(value);
  const double fraction = std::fabs(value - whole_days);
  long long seconds = std::llround(fraction * kSecondsPerDay);
  long long days = static_cast<long long>(whole_days);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  const year_month_day ymd{kEpoch + std::chrono::days{days}};
  return LocalDateTime{static_cast<int>(ymd.year()),
                       static_cast<int>(static_cast<unsigned>(ymd.month())),
                       static_cast<int>(static_cast<unsigned>(ymd.day())),
                       static_cast<int>(seconds / 3600),
                       static_cast<int>(seconds / 60 % 60),
                       static_cast<int>(seconds % 60),
                       0};
}

}  // namespace dovel::platform::automation
