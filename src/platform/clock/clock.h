#pragma once

#include <cstdint>

#include "platform/core/current.h"

namespace dovel::platform {

// A local calendar date and time of day, as the system clock reports it.
struct LocalDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// The wall clock in local time.
// Threads: both methods may be called from any thread.
class Clock {
 public:
  virtual ~Clock() = default;

  // Timer: seconds elapsed since local midnight, with fractions, as a 32-bit
  // float; falls back to 0 at midnight.
  virtual float SecondsSinceMidnight() = 0;

  // The current local date and time of day.
  virtual LocalDateTime Now() = 0;
};

template <>
Clock& SystemDefault<Clock>();

inline Clock& CurrentClock() { return Current<Clock>::Get(); }

// Seconds since midnight of a given time of day, the way Timer reports it.
float SecondsSinceMidnightOf(const LocalDateTime& t);

}  // namespace dovel::platform
