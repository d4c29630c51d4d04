#include "platform/automation/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace dovel::platform::automation {
namespace {

LocalDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return LocalDateTime{year, month, day, hour, minute, second, 0};
}

TEST(AutomationDate, KnownDays) {
  EXPECT_EQ(DatePart(At(1899, 12, 30)).value, 0);
  EXPECT_EQ(DatePart(At(1899, 12, 31)).value, 1);
  EXPECT_EQ(DatePart(At(1899, 12, 29)).value, -1);
  EXPECT_EQ(DatePart(At(1900, 3, 1)).value, 61);
  EXPECT_EQ(DatePart(At(2000, 1, 1)).value, 36526);
  EXPECT_EQ(DatePart(At(9999, 12, 31)).value, 2958465);
  EXPECT_EQ(DatePart(At(100, 1, 1)).value, -657434);
}

TEST(AutomationDate, DatePartIgnoresTheTimeOfDayAndTimePartTheDate) {
  const LocalDateTime moment = At(2026, 3, 14, 15, 9, 26);
  const Date date = DatePart(moment);
  const Date time = TimePart(moment);
  EXPECT_EQ(date.value, std::floor(date.value));
  EXPECT_EQ(date, DatePart(At(2026, 3, 14)));
  EXPECT_GE(time.value, 0);
  EXPECT_LT(time.value, 1);
  EXPECT_EQ(time, TimePart(At(1999, 1, 1, 15, 9, 26)));
}

TEST(AutomationDate, TimesOfDay) {
  EXPECT_EQ(TimePart(At(2026, 1, 1, 12)).value, 0.5);
  EXPECT_EQ(TimePart(At(2026, 1, 1, 6)).value, 0.25);
  EXPECT_EQ(TimePart(At(2026, 1, 1)).value, 0);
  EXPECT_DOUBLE_EQ(TimePart(At(2026, 1, 1, 23, 59, 59)).value, 86399.0 / 86400.0);
  // Milliseconds are below a time-of-day value's resolution.
  LocalDateTime with_ms = At(2026, 1, 1, 12);
  with_ms.millisecond = 999;
  EXPECT_EQ(TimePart(with_ms).value, 0.5);
}

TEST(AutomationDate, RoundTripsEverySecondOfADay) {
  for (int second = 0; second < 86400; ++second) {
    const LocalDateTime moment = At(2024, 2, 29, second / 3600, second / 60 % 60, second % 60);
    const Date combined{DatePart(moment).value + TimePart(moment).value};
    ASSERT_EQ(ToLocalDateTime(combined), moment) << "second " << second;
  }
}

TEST(AutomationDate, RoundTripsDaysAcrossTheRange) {
  for (const LocalDateTime& day :
       {At(100, 1, 1), At(1600, 2, 29), At(1899, 12, 29), At(1899, 12, 30), At(1900, 2, 28), At(1900, 3, 1),
        At(1970, 1, 1), At(2000, 2, 29), At(2038, 1, 19), At(9999, 12, 31)}) {
    EXPECT_EQ(ToLocalDateTime(DatePart(day)), day) << DatePart(day).value;
  }
}

TEST(AutomationDate, ToLocalDateTimeReadsAPureTimeAsTheEpochDay) {
  EXPECT_EQ(ToLocalDateTime(Date{0.5}), At(1899, 12, 30, 12));
  EXPECT_EQ(ToLocalDateTime(TimePart(At(2026, 7, 4, 8, 30, 15))), At(1899, 12, 30, 8, 30, 15));
}

TEST(AutomationDate, NegativeDatesCountDaysBackAndTimeForward) {
  EXPECT_EQ(ToLocalDateTime(Date{-1.25}), At(1899, 12, 29, 6));
  EXPECT_EQ(ToLocalDateTime(Date{-2.5}), At(1899, 12, 28, 12));
}

TEST(AutomationDate, RoundsToTheNearestSecond) {
  EXPECT_EQ(ToLocalDateTime(Date{36526 + 0.4 / 86400}), At(2000, 1, 1));
  EXPECT_EQ(ToLocalDateTime(Date{36526 + 0.6 / 86400}), At(2000, 1, 1, 0, 0, 1));
  // Half a second before midnight belongs to the next day.
  EXPECT_EQ(ToLocalDateTime(Date{36526 + 86399.6 / 86400}), At(2000, 1, 2));
  // Before the epoch too: the time still runs forward, into the next day.
  EXPECT_EQ(ToLocalDateTime(Date{-1 - 86399.6 / 86400}), At(1899, 12, 30));
  EXPECT_EQ(ToLocalDateTime(Date{-86399.6 / 86400}), At(1899, 12, 31));
}

TEST(AutomationDate, OutOfRangeAndNonFiniteValuesAreClampedNotUndefined) {
  EXPECT_EQ(ToLocalDateTime(Date{1e12}).year, 9999);
  EXPECT_EQ(ToLocalDateTime(Date{-1e12}).year, 100);
  EXPECT_EQ(ToLocalDateTime(Date{std::numeric_limits<double>::quiet_NaN()}), At(1899, 12, 30));
  EXPECT_EQ(ToLocalDateTime(Date{std::numeric_limits<double>::infinity()}), At(1899, 12, 30));
}

}  // namespace
}  // namespace dovel::platform::automation
