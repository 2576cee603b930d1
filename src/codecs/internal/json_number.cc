#include "codecs/internal/json_number.h"

#include <charconv>
#include <system_error>

namespace Tesk::JsonNumbers {

bool ConvertSlowly(const char* start, const char* end, int64_t magnitude, double& value) {
  const std::from_chars_result read = std::from_chars(start, end, value);
  if (read.ec == std::errc()) return true;
  // Out of range: beyond the largest double, or closer to zero than the
  // smallest one.
  if (magnitude > 0) return false;
  value = *start == '-' ? -0.0 : 0.0;
  return true;
}

}  // namespace Tesk::JsonNumbers
