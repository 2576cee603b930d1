// Calendar arithmetic shared by every target, done in 64 bits so that no
// target's time_t width limits it.
#include "platform/platform.h"

namespace Tesk::Platform {
namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1..12).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
  return value / divisor - ((value % divisor != 0) && ((value < 0) != (divisor < 0)) ? 1 : 0);
}

}  // namespace

int64_t UtcSecondsFromCalendar(const UtcCalendarTime& time) {
  // Normalise the month into 1..12 first, carrying into the year, as timegm does.
  const int64_t monthIndex = static_cast<int64_t>(time.month) - 1;
  const int64_t year = time.year + FloorDiv(monthIndex, 12);
  const int64_t month = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
  const int64_t days = DaysFromCivil(year, month, 1) + (time.day - 1);
  return days * 86400 + int64_t{time.hour} * 3600 + int64_t{time.minute} * 60 + time.second;
}

}  // namespace Tesk::Platform
