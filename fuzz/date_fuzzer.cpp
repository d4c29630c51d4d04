// Automation dates as any caller can pass them: every double, NaN and the
// infinities included, to a calendar moment and back.
//
// Input: the date's eight bytes (little-endian).

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "platform/automation/date.h"

namespace {

namespace automation = dovel::platform::automation;

constexpr double kFirst = -657434.0;  // 100-01-01
constexpr double kLast = 2958465.0;   // 9999-12-31, kept to its last second at most
constexpr double kSecondsPerDay = 86400.0;

// The moment a date stands for, in seconds from the epoch: whole days count
// back for a negative date but its time of day still counts forward.
double Seconds(double date) {
  const double days = std::trunc(date);
  return days * kSecondsPerDay + std::fabs(date - days) * kSecondsPerDay;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size != sizeof(double)) return -1;
  double value = 0;
  std::memcpy(&value, data, sizeof value);

  const dovel::platform::LocalDateTime moment = automation::ToLocalDateTime(automation::Date{value});
  const std::chrono::year_month_day day{std::chrono::year{moment.year},
                                        std::chrono::month{static_cast<unsigned>(moment.month)},
                                        std::chrono::day{static_cast<unsigned>(moment.day)}};
  DOVEL_FUZZ_CHECK(day.ok());
  DOVEL_FUZZ_CHECK(moment.year >= 100 && moment.year <= 9999);
  DOVEL_FUZZ_CHECK(moment.hour >= 0 && moment.hour < 24 && moment.minute >= 0 && moment.minute < 60 &&
                   moment.second >= 0 && moment.second < 60 && moment.millisecond == 0);

  // Back again: the same moment to the nearest second, inside the range
  // automation dates cover; NaN and the infinities read as the epoch.
  const double date = automation::DatePart(moment).value;
  const double time = automation::TimePart(moment).value;
  DOVEL_FUZZ_CHECK(date == std::trunc(date) && time >= 0 && time < 1);
  const double back = date * kSecondsPerDay + std::round(time * kSecondsPerDay);
  if (!std::isfinite(value)) {
    DOVEL_FUZZ_CHECK(back == 0);
  } else if (value < kFirst) {
    DOVEL_FUZZ_CHECK(back == kFirst * kSecondsPerDay);
  } else if (value >= kLast + 0.99999) {
    DOVEL_FUZZ_CHECK(date == kLast);
  } else {
    DOVEL_FUZZ_CHECK(std::fabs(back - Seconds(value)) <= 0.5 + 1e-3);
  }
  return 0;
}
