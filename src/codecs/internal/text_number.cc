#include "codecs/internal/text_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "diagnostics/format.h"

namespace Tesk::CodecsInternal {

namespace {

template <class T>
NumberFromText<T> Failure(std::string_view message, std::string_view text, std::string_view label,
                          std::string_view typeName) {
  return {T{}, Format(message, text, label, typeName)};
}

// The runtime's readers stop at a NUL; a NUL inside the text then counts as
// a character left after the number.
bool ReadToEnd(const std::string& terminated, const char* end) {
  return end == terminated.c_str() + terminated.size();
}

}  // namespace

NumberFromText<int64_t> SignedFromText(std::string_view text, std::string_view label,
                                       std::string_view typeName, int64_t min, int64_t max) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(terminated.c_str(), &end, 0);
  const bool rangeError = errno == ERANGE;
  if (!ReadToEnd(terminated, end)) {
    return Failure<int64_t>(kNumberFormatMessage, text, label, typeName);
  }
  if (rangeError || value < min || value > max) {
    return Failure<int64_t>(kNumberRangeMessage, text, label, typeName);
  }
  return {static_cast<int64_t>(value), {}};
}

NumberFromText<uint64_t> UnsignedFromText(std::string_view text, std::string_view label,
                                          std::string_view typeName, uint64_t max) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(terminated.c_str(), &end, 0);
  const bool rangeError = errno == ERANGE;
  if (!ReadToEnd(terminated, end)) {
    return Failure<uint64_t>(kNumberFormatMessage, text, label, typeName);
  }
  size_t first = 0;
  while (first < terminated.size() && std::isspace(static_cast<unsigned char>(terminated[first]))) {
    ++first;
  }
  const bool negative = first < terminated.size() && terminated[first] == '-';
  if (rangeError || negative || value > max) {
    return Failure<uint64_t>(kNumberRangeMessage, text, label, typeName);
  }
  return {static_cast<uint64_t>(value), {}};
}

NumberFromText<double> FloatFromText(std::string_view text, std::string_view label,
                                     std::string_view typeName, double lo, double hi) {
  const std::string terminated(text);
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(terminated.c_str(), &end);
  const bool rangeError = errno == ERANGE;
  if (!ReadToEnd(terminated, end)) {
    return Failure<double>(kNumberFormatMessage, text, label, typeName);
  }
  if (rangeError || value < lo || value > hi) {
    return Failure<double>(kNumberRangeMessage, text, label, typeName);
  }
  return {value, {}};
}

}  // namespace Tesk::CodecsInternal
