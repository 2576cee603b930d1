#include "personalized-offers/token_expiry.h"

#include <string>

#include "platform/platform.h"

namespace Tesk::Client::PersonalizedOffers {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of `count` digits at `position`, or -1.
int Digits(std::string_view text, size_t position, size_t count) {
  int value = 0;
  for (size_t i = position; i < position + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

int64_t ReadUtcTimestamp(std::string_view text) {
  if (text.size() <= 4) return -1;
  const bool extended = text[4] == '-';
  const size_t length = extended ? 19 : 15;
  if (text.size() < length || !IsDigit(text[length - 1])) return -1;

  std::string_view rest = text.substr(length);
  if (!rest.empty() && (rest.front() == '.' || rest.front() == ',')) {
    size_t digits = 1;
    while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
    rest.remove_prefix(digits);
  }
  constexpr std::string_view kZones[] = {"",       "Z",   "z",     "-00",   "-0000",
                                         "-00:00", "+00", "+0000", "+00:00"};
  bool zoneAccepted = false;
  for (std::string_view zone : kZones) zoneAccepted = zoneAccepted || rest == zone;
  if (!zoneAccepted) return -1;

  // The extended form of the date and time; then "%Y-%m-%dT%H:%M:%S".
  std::string stamp(text.substr(0, length));
  if (!extended) {
    stamp.insert(13, ":");
    stamp.insert(11, ":");
    stamp.insert(6, "-");
    stamp.insert(4, "-");
  }
  if (stamp[10] == ' ' || stamp[10] == 't') stamp[10] = 'T';
  if (stamp[4] != '-' || stamp[7] != '-' || stamp[10] != 'T' || stamp[13] != ':' ||
      stamp[16] != ':') {
    return -1;
  }
  Platform::UtcCalendarTime time{};
  const int year = Digits(stamp, 0, 4);
  time.month = Digits(stamp, 5, 2);
  time.day = Digits(stamp, 8, 2);
  time.hour = Digits(stamp, 11, 2);
  time.minute = Digits(stamp, 14, 2);
  time.second = Digits(stamp, 17, 2);
  // The ranges a "%m %d %H %M %S" parse accepts; days past a month's end are
  // carried into the next month, as the UTC conversion does.
  if (year < 0 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
      time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 ||
      time.second > 60) {
    return -1;
  }
  time.year = year;
  // The UTC conversion takes times from 1970 to the end of 3000, and reads
  // any other as -1: a later expiration is no time, so expired.
  constexpr int64_t kLastConvertibleSecond = 32535215999;  // 3000-12-31T23:59:59Z
  const int64_t seconds = Platform::UtcSecondsFromCalendar(time);
  return seconds < 0 || seconds > kLastConvertibleSecond ? -1 : seconds;
}

bool IsTokenExpired(std::string_view expiration, int64_t nowSeconds) {
  return ReadUtcTimestamp(expiration) - nowSeconds <= 0;
}

}  // namespace Tesk::Client::PersonalizedOffers
