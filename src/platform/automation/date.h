#pragma once

#include "platform/automation/variant.h"
#include "platform/clock/clock.h"

namespace dovel::platform::automation {

// The date part of a moment as an automation date (whole days, no time).
Date DatePart(const LocalDateTime& moment);

// The time of day of a moment as an automation date (no whole days), to the
// second, as a time-of-day value is kept.
Date TimePart(const LocalDateTime& moment);

// The calendar date and time of day an automation date stands for, to the
// second. Dates before 100-01-01 or after 9999-12-31 are clamped to those.
LocalDateTime ToLocalDateTime(Date date);

}  // namespace dovel::platform::automation
