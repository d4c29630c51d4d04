#pragma once

#include <cstdint>

#include "platform/clock/clock.h"

namespace dovel::engine {

// The inactivity deadline on the seconds-since-midnight clock.
//
// The clock falls back to 0 at midnight, so a deadline computed late in the
// evening (say 86,000 + 900 s) would never be reached by the next day's
// clock. The deadline remembers the day it was computed on, and when a later
// reading is taken on a later day it is carried back by a day's worth of
// seconds per day passed. Everything else is as the plain comparison: the
// deadline starts at 0 (already passed), and a negative time-out puts it
// before the moment it is computed.
class InactivityDeadline {
 public:
  // The clock as one reading: seconds since midnight and the day they count in.
  struct Reading {
    float seconds = 0;
    std::int64_t day = 0;
  };

  // deadline = now + timeout seconds, as a 32-bit float.
  void Restart(Reading now, std::int16_t timeout_seconds);

  // Whether `now` is at or past the deadline.
  bool HasPassed(Reading now);

  float value() const { return deadline_; }

  // `clock`, read once.
  static Reading Now(platform::Clock& clock);

 private:
  float deadline_ = 0;
  std::int64_t day_ = 0;
  bool dated_ = false;  // the initial 0 belongs to no day: it has passed on any
};

}  // namespace dovel::engine
