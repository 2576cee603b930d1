#include <gtest/gtest.h>

#include "platform/platform.h"

namespace Tesk::Platform {
namespace {

struct CalendarCase {
  const char* what;
  UtcCalendarTime time;
  int64_t seconds;
};

constexpr CalendarCase kCalendarCases[] = {
    {"epoch", {1970, 1, 1, 0, 0, 0}, 0},
    {"before the epoch", {1969, 12, 31, 23, 59, 59}, -1},
    {"leap day", {2024, 2, 29, 12, 0, 0}, 1709208000},
    {"last 32-bit second", {2038, 1, 19, 3, 14, 7}, 2147483647},
    {"first second past 32 bits", {2038, 1, 19, 3, 14, 8}, 2147483648},
    {"far future", {2100, 3, 1, 0, 0, 0}, 4107542400},
    {"month 13 carries into the next year", {2025, 13, 1, 0, 0, 0}, 1767225600},
    {"day 0 is the last day of the previous month", {2026, 3, 0, 0, 0, 0}, 1772236800},
};

TEST(UtcSecondsFromCalendar, ComputesInSixtyFourBits) {
  for (const CalendarCase& c : kCalendarCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(UtcSecondsFromCalendar(c.time), c.seconds);
  }
}

}  // namespace
}  // namespace Tesk::Platform
