// Numbers read from text as the conversion layer reads string values: the
// runtime library's strtoll, strtoull (base 0) and strtod, with checks for
// characters left after the number and for the target range. The failure texts
// are the conversion layer's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Tesk::CodecsInternal {

// %1 the text, %2 the label of the value, %3 the type name.
inline constexpr std::string_view kNumberFormatMessage =
    "Value %1 for '%2' of type %3 is in an incorrect format";
inline constexpr std::string_view kNumberRangeMessage =
    "Value %1 for '%2' of type %3 is out of range";

template <class T>
struct NumberFromText {
  T value{};
  std::string error;  // empty on success

  [[nodiscard]] bool ok() const { return error.empty(); }
};

// Decimal, "0x" hexadecimal or "0" octal, after optional white space and sign.
// The empty text reads as 0.
[[nodiscard]] NumberFromText<int64_t> SignedFromText(std::string_view text, std::string_view label,
                                                     std::string_view typeName, int64_t min,
                                                     int64_t max);
// As above; a minus sign (after white space) is out of range rather than the
// runtime's wrap-around.
[[nodiscard]] NumberFromText<uint64_t> UnsignedFromText(std::string_view text,
                                                        std::string_view label,
                                                        std::string_view typeName, uint64_t max);
// Any form strtod reads; a range error (overflow or underflow) is out of range.
[[nodiscard]] NumberFromText<double> FloatFromText(std::string_view text, std::string_view label,
                                                   std::string_view typeName, double lo, double hi);

}  // namespace Tesk::CodecsInternal
