#include "engine/inactivity_clock.h"

#include <chrono>

#include "platform/clock/clock.h"

namespace dovel::engine {

namespace {
constexpr float kSecondsPerDay = 86400.0f;
}

InactivityDeadline::Reading InactivityDeadline::Now(platform::Clock& clock) {
  using namespace std::chrono;
  const platform::LocalDateTime now = clock.Now();
  const sys_days day = year{now.year} / month{static_cast<unsigned>(now.month)} /
                       std::chrono::day{static_cast<unsigned>(now.day)};
  return Reading{platform::SecondsSinceMidnightOf(now), day.time_since_epoch().count()};
}

void InactivityDeadline::Restart(Reading now, std::int16_t timeout_seconds) {
  deadline_ = now.seconds + static_cast<float>(timeout_seconds);
  day_ = now.day;
  dated_ = true;
}

bool InactivityDeadline::HasPassed(Reading now) {
  if (dated_ && now.day > day_) {
    // Carried back to today's clock; a deadline days ago ends up far below 0.
    deadline_ -= kSecondsPerDay * static_cast<float>(now.day - day_);
    day_ = now.day;
  }
  return now.seconds >= deadline_;
}

}  // namespace dovel::engine
