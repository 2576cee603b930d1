#include "binding/conversion_scalar.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "binding/binding_registry.h"
#include "binding/binding_type_info.h"
#include "binding/internal/conversion_messages.h"
#include "diagnostics/format.h"

namespace Tesk {

using Kind = BindingPropertyKind;
using namespace BindingInternal;

namespace {

// 2^63 and 2^64: the first doubles that no longer fit a 64-bit integer.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

enum class TextNumber { Ok, Format, Range };

// The text as the runtime library reads it: leading white space and a sign
// allowed, base 0; any character left after the number is a format error.
TextNumber ParseSigned(const char* text, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 0);
  const bool overflow = errno == ERANGE;
  if (*end != '\0') return TextNumber::Format;
  if (overflow) return TextNumber::Range;
  value = parsed;
  return TextNumber::Ok;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

TextNumber ParseUnsigned(const char* text, uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  const bool overflow = errno == ERANGE;
  if (*end != '\0') return TextNumber::Format;
  // strtoull negates a negative number into a huge one: refuse any minus sign,
  // also after leading white space.
  const char* first = text;
  while (IsSpace(*first)) ++first;
  if (overflow || *first == '-') return TextNumber::Range;
  value = parsed;
  return TextNumber::Ok;
}

TextNumber ParseFloating(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text, &end);
  const bool overflow = errno == ERANGE;
  if (*end != '\0') return TextNumber::Format;
  if (overflow) return TextNumber::Range;
  value = parsed;
  return TextNumber::Ok;
}

void FailOutOfRange(BindingResult& result, const FormatArg& value, std::string_view label,
                    std::string_view typeName) {
  const FormatArg args[] = {value, label, typeName};
  result.Fail(Format(kNumberOutOfRange, args));
}

// A numeric text read by `parse` into `target` when `inRange` accepts it; the
// format and range failures name the text.
template <class T, class Parse, class InRange>
void FromNumericText(BindingResult& result, T& target, const char* text, std::string_view label,
                     std::string_view typeName, Parse parse, InRange inRange) {
  T value{};
  switch (parse(text, value)) {
    case TextNumber::Ok:
      if (inRange(value)) {
        target = value;
        return;
      }
      return FailOutOfRange(result, text, label, typeName);
    case TextNumber::Format:
      result.Fail(Format(kNumberFormat, text, label, typeName));
      return;
    case TextNumber::Range:
      return FailOutOfRange(result, text, label, typeName);
  }
}

void FailInvalidType(BindingResult& result, std::string_view label, std::string_view typeName,
                     Kind kind) {
  result.Fail(Format(kNumberInvalidType, label, typeName, BindingProperty::KindName(kind)));
}

}  // namespace

void FromBindingBool(BindingResult& result, bool& target, const BindingProperty& input,
                     std::string_view label) {
  if (!result.ok) return;
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::Bool:
      target = input.GetBool();
      return;
    case Kind::String: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        target = true;
      } else if (text == "0" || text == "false") {
        target = false;
      } else {
        result.Fail(Format(kBoolFormat, text, label));
      }
      return;
    }
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
    case Kind::Blob:
    case Kind::Enum:
    case Kind::Collection:
    case Kind::Structure:
      result.Fail(Format(kBoolInvalidType, label, BindingProperty::KindName(input.Kind())));
      return;
  }
}

void FromBindingSignedInteger(BindingResult& result, int64_t& target, const BindingProperty& input,
                              std::string_view label, int64_t min, int64_t max,
                              std::string_view typeName) {
  if (!result.ok) return;
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::Signed: {
      const int64_t value = input.GetSigned();
      if (value < min || value > max) return FailOutOfRange(result, value, label, typeName);
      target = value;
      return;
    }
    case Kind::Unsigned: {
      const uint64_t value = input.GetUnsigned();
      if (max < 0 || value > static_cast<uint64_t>(max)) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<int64_t>(value);
      return;
    }
    case Kind::Float: {
      // NaN and values from 2^63 up fail too: they have no integer to truncate to.
      const double value = input.GetFloat();
      if (!(value >= static_cast<double>(min) && value <= static_cast<double>(max)) ||
          value >= kTwoPow63) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<int64_t>(value);
      return;
    }
    case Kind::String:
      return FromNumericText(result, target, input.CString(), label, typeName, ParseSigned,
                             [&](int64_t value) { return value >= min && value <= max; });
    case Kind::Enum: {
      const int32_t value = input.GetEnum().value;
      if (value < min || value > max) return FailOutOfRange(result, value, label, typeName);
      target = value;
      return;
    }
    case Kind::Bool:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      return FailInvalidType(result, label, typeName, input.Kind());
  }
}

void FromBindingUnsignedInteger(BindingResult& result, uint64_t& target,
                                const BindingProperty& input, std::string_view label, uint64_t max,
                                std::string_view typeName) {
  if (!result.ok) return;
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::Signed: {
      const int64_t value = input.GetSigned();
      if (value < 0 || static_cast<uint64_t>(value) > max) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<uint64_t>(value);
      return;
    }
    case Kind::Unsigned: {
      const uint64_t value = input.GetUnsigned();
      if (value > max) return FailOutOfRange(result, value, label, typeName);
      target = value;
      return;
    }
    case Kind::Float: {
      const double value = input.GetFloat();
      if (!(value >= 0 && value <= static_cast<double>(max)) || value >= kTwoPow64) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<uint64_t>(value);
      return;
    }
    case Kind::String:
      return FromNumericText(result, target, input.CString(), label, typeName, ParseUnsigned,
                             [&](uint64_t value) { return value <= max; });
    case Kind::Enum: {
      const int32_t value = input.GetEnum().value;
      if (value < 0 || static_cast<uint64_t>(value) > max) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<uint64_t>(value);
      return;
    }
    case Kind::Bool:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      return FailInvalidType(result, label, typeName, input.Kind());
  }
}

void FromBindingFloatingPoint(BindingResult& result, double& target, const BindingProperty& input,
                              std::string_view label, double lo, double hi,
                              std::string_view typeName) {
  if (!result.ok) return;
  // A bound outside the signed 64-bit range cannot be passed by an integer.
  const bool checkLo = lo >= -kTwoPow63 && lo <= kTwoPow63;
  const bool checkHi = hi >= -kTwoPow63 && hi <= kTwoPow63;
  const auto fromSigned = [&](int64_t value) {
    const double converted = static_cast<double>(value);
    if ((checkLo && converted < lo) || (checkHi && converted > hi)) {
      return FailOutOfRange(result, value, label, typeName);
    }
    target = converted;
  };
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::Signed:
      return fromSigned(input.GetSigned());
    case Kind::Unsigned: {
      const uint64_t value = input.GetUnsigned();
      if (hi <= kTwoPow64 && static_cast<double>(value) > hi) {
        return FailOutOfRange(result, value, label, typeName);
      }
      target = static_cast<double>(value);
      return;
    }
    case Kind::Float: {
      const double value = input.GetFloat();
      if (value < lo || value > hi) return FailOutOfRange(result, value, label, typeName);
      target = value;
      return;
    }
    case Kind::String:
      return FromNumericText(result, target, input.CString(), label, typeName, ParseFloating,
                             [&](double value) { return value >= lo && value <= hi; });
    case Kind::Enum:
      return fromSigned(input.GetEnum().value);
    case Kind::Bool:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      return FailInvalidType(result, label, typeName, input.Kind());
  }
}

void FromBindingString(BindingResult& result, std::string& target, const BindingProperty& input,
                       std::string_view label, const BindingRegistry* registry) {
  if (!result.ok) return;
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::String:
      target.assign(input.GetString());
      return;
    case Kind::Enum: {
      const BindingEnumValue value = input.GetEnum();
      const std::optional<std::string_view> name =
          registry != nullptr && value.type != nullptr
              ? registry->EnumeratorName(*value.type, value.value)
              : std::nullopt;
      if (!name) {
        result.Fail(Format(kEnumValueWithoutName, value.value, label));
        return;
      }
      target.assign(*name);
      return;
    }
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      result.Fail(Format(kNotString, label));
      return;
  }
}

void FromBindingEnumeration(BindingResult& result, int32_t& target, const BindingProperty& input,
                            std::string_view label, const BindingTypeInfo* record) {
  if (!result.ok) return;
  if (record == nullptr) {
    int64_t value = 0;
    FromBindingSignedInteger(result, value, input, label, INT32_MIN, INT32_MAX,
                             BindingValueTypeName(BindingValueType::Int32));
    if (result.ok) target = static_cast<int32_t>(value);
    return;
  }
  const auto refuse = [&](const FormatArg& shown) {
    const FormatArg args[] = {shown, record->name, label};
    result.Fail(Format(kEnumValueNotValid, args));
  };
  const auto accept = [&](int32_t value, const FormatArg& shown) {
    if (record->FindEnumeratorByValue(value) == nullptr) return refuse(shown);
    target = value;
  };
  switch (input.Kind()) {
    case Kind::Empty:
      result.Fail(Format(kValueRequired, label));
      return;
    case Kind::Signed: {
      // A number outside int32 names no enumerator: it is refused, never cut
      // to its low 32 bits.
      const int64_t value = input.GetSigned();
      if (value < INT32_MIN || value > INT32_MAX) return refuse(value);
      return accept(static_cast<int32_t>(value), value);
    }
    case Kind::Unsigned: {
      const uint64_t value = input.GetUnsigned();
      if (value > INT32_MAX) return refuse(value);
      return accept(static_cast<int32_t>(value), value);
    }
    case Kind::String: {
      const char* text = input.CString();
      if (const BindingEnumerator* byName = record->FindEnumerator(text)) {
        target = byName->value;
        return;
      }
      int64_t value = 0;
      if (ParseSigned(text, value) == TextNumber::Ok && value >= INT32_MIN && value <= INT32_MAX &&
          record->FindEnumeratorByValue(static_cast<int32_t>(value)) != nullptr) {
        target = static_cast<int32_t>(value);
        return;
      }
      result.Fail(Format(kEnumValueNotValid, text, record->name, label));
      return;
    }
    case Kind::Enum:
      return accept(input.GetEnum().value, input.GetEnum().value);
    case Kind::Bool:
    case Kind::Float:
    case Kind::Blob:
    case Kind::Collection:
    case Kind::Structure:
      result.Fail(Format(kEnumInvalidType, label, BindingProperty::KindName(input.Kind())));
      return;
  }
}

void FromBindingObject(BindingResult& result, BindingProperty& target,
                       const BindingProperty& input) {
  if (!result.ok) return;
  target = input;
}

}  // namespace Tesk
