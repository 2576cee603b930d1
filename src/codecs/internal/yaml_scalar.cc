#include "codecs/internal/yaml_scalar.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

#include "binding/conversion_scalar.h"
#include "codecs/internal/json_number.h"
#include "codecs/internal/yaml_messages.h"
#include "diagnostics/format.h"

namespace Tesk::YamlInternal {

namespace {

constexpr std::string_view kIntTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

constexpr std::string_view kNullWords[] = {"", "~", "null", "Null", "NULL"};
constexpr std::string_view kTrueWords[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                           "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::string_view kFalseWords[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                            "No",    "NO",    "off",   "Off", "OFF"};

// The 64-bit integer ranges as doubles (both bounds are exact).
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kMinusTwoTo63 = -9223372036854775808.0;
constexpr double kDoubleMax = std::numeric_limits<double>::max();

template <size_t N>
bool IsOneOf(std::string_view text, const std::string_view (&words)[N]) {
  for (const std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

// No null, true or false word is longer: most texts are none of them at once.
constexpr size_t kLongestWord = 5;

template <size_t N>
constexpr bool NoneLongerThan(const std::string_view (&words)[N], size_t longest) {
  for (const std::string_view word : words) {
    if (word.size() > longest) return false;
  }
  return true;
}
static_assert(NoneLongerThan(kNullWords, kLongestWord) &&
              NoneLongerThan(kTrueWords, kLongestWord) &&
              NoneLongerThan(kFalseWords, kLongestWord));

// The true and false words; nothing for other text.
std::optional<bool> BoolWord(std::string_view text) {
  if (text.size() > kLongestWord) return std::nullopt;
  if (IsOneOf(text, kTrueWords)) return true;
  if (IsOneOf(text, kFalseWords)) return false;
  return std::nullopt;
}

std::optional<std::string> StoreTagged(std::string_view tag, std::string_view text,
                                       BindingProperty& target) {
  if (tag == kYamlStringTag) {
    target.SetString(text);
    return std::nullopt;
  }
  // Tagged numbers are read as the conversion layer reads numeric strings.
  BindingProperty input;
  input.SetString(text);
  BindingResult result;
  if (tag == kIntTag) {
    if (!text.empty() && text.front() == '-') {
      int64_t number = 0;
      FromBindingSignedInteger(result, number, input, kYamlLabel,
                               std::numeric_limits<int64_t>::min(),
                               std::numeric_limits<int64_t>::max(), "int64_t");
      if (result.ok) target.SetSigned(number);
    } else {
      uint64_t number = 0;
      FromBindingUnsignedInteger(result, number, input, kYamlLabel,
                                 std::numeric_limits<uint64_t>::max(), "uint64_t");
      if (result.ok) target.SetUnsigned(number);
    }
    if (!result.ok) return result.ErrorText();
    return std::nullopt;
  }
  if (tag == kFloatTag) {
    double number = 0;
    FromBindingFloatingPoint(result, number, input, kYamlLabel, -kDoubleMax, kDoubleMax, "double");
    if (!result.ok) return result.ErrorText();
    target.SetFloat(number);
    return std::nullopt;
  }
  if (tag == kBoolTag) {
    // A text that is none of the words is refused like a malformed number,
    // rather than dropped: the tag asks for a bool, and nothing is lost silently.
    const std::optional<bool> word = BoolWord(text);
    if (!word)
      return Format("Value %1 for '%2' of type %3 is in an incorrect format", text, kYamlLabel,
                    "bool");
    target.SetBool(*word);
    return std::nullopt;
  }
  return Format(Text(YamlMessage::UnsupportedTag), tag);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether strtod could read a number from a text that begins with `c`
// (white space, a sign, a digit, a point, or the words inf and nan).
bool MayStartNumber(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '+':
    case '-':
    case '.':
    case 'i':
    case 'I':
    case 'n':
    case 'N':
      return true;
    default:
      return IsDigit(c);
  }
}

// -?digits(.digits)?([eE][+-]?digits)?: the form every number writer uses.
bool IsPlainDecimal(std::string_view text) {
  size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
  const auto digits = [&] {
    const size_t first = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i > first;
  };
  if (!digits()) return false;
  if (i < text.size() && text[i] == '.' && (++i, !digits())) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == text.size();
}

// The number a text in JSON's form of numbers denotes (the form most writers
// use), read in one pass: an integer that fits 64 bits as the JSON reader
// keeps it, any other number as a double; false for any other text, or one
// too long to be copied here. The reader looks a few bytes past the digits, so
// it reads a copy with zero bytes after it.
bool ReadJsonFormNumber(std::string_view text, JsonNumbers::Number& number) {
  constexpr size_t kLongest = 64;
  constexpr size_t kPadding = 16;
  if (text.empty() || text.size() > kLongest || (text[0] != '-' && !IsDigit(text[0]))) {
    return false;
  }
  char copy[kLongest + kPadding];
  std::memcpy(copy, text.data(), text.size());
  std::memset(copy + text.size(), 0, kPadding);
  const char* end = copy;
  return JsonNumbers::Read(end, number) == JsonSyntaxError::None && end == copy + text.size();
}

// Reads the whole text as a number as strtod does (`text` is NUL-terminated):
// the JSON form in one pass, the plain decimal form through std::from_chars,
// which is as correctly rounded, faster than strtod, and independent of the
// locale. An integer in the JSON form that fits 64 bits comes back as the JSON
// reader keeps it; any other number as a double. Infinities of either sign (the
// words, or numbers beyond the double range) are no numbers here: they stay
// text, like any other word.
bool ReadNumber(std::string_view text, JsonNumbers::Number& number) {
  if (text.empty() || !MayStartNumber(text[0])) return false;
  if (ReadJsonFormNumber(text, number)) return true;
  number.kind = JsonNumbers::Kind::Float;
  double& value = number.floatValue;
  if (IsPlainDecimal(text)) {
    const std::from_chars_result read =
        std::from_chars(text.data(), text.data() + text.size(), value);
    if (read.ec == std::errc() && read.ptr == text.data() + text.size()) return true;
  }
  char* end = nullptr;
  value = std::strtod(text.data(), &end);
  return end == text.data() + text.size() && !std::isinf(value);
}

// A whole number of at most 15 digits, after an optional minus: the integers
// of most documents. Its value as a double is exact, so it is stored as the
// general path would store it, without reading it as a double first.
bool StoreShortInteger(std::string_view text, BindingProperty& target) {
  constexpr size_t kMostDigits = 15;  // below 2^53
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > kMostDigits) return false;
  uint64_t value = 0;
  for (const char c : digits) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (negative && value != 0) {
    target.SetSigned(-static_cast<int64_t>(value));
  } else {
    target.SetUnsigned(value);  // minus zero as well: it is 0 or more
  }
  return true;
}

// Plain, literal and folded scalars without a tag.
void StoreUntagged(std::string_view text, BindingProperty& target) {
  if (StoreShortInteger(text, target)) return;
  if (text.size() <= kLongestWord && IsOneOf(text, kNullWords)) {
    target.Reset();
    return;
  }
  // An integer that fits 64 bits keeps every digit, as in JSON: beyond 2^53
  // a double would round it.
  JsonNumbers::Number number;
  if (ReadNumber(text, number)) {
    if (number.kind == JsonNumbers::Kind::Unsigned) {
      target.SetUnsigned(number.unsignedValue);
      return;
    }
    if (number.kind == JsonNumbers::Kind::Signed) {
      target.SetSigned(number.signedValue);
      return;
    }
    const double value = number.floatValue;
    if (std::isnan(value) || std::trunc(value) != value) {
      target.SetFloat(value);
    } else if (value >= 0 && value < kTwoTo64) {
      target.SetUnsigned(static_cast<uint64_t>(value));
    } else if (value < 0 && value >= kMinusTwoTo63) {
      target.SetSigned(static_cast<int64_t>(value));
    } else {
      // A whole number beyond the 64-bit integers keeps its value as a float.
      target.SetFloat(value);
    }
    return;
  }
  if (const std::optional<bool> word = BoolWord(text)) {
    target.SetBool(*word);
    return;
  }
  target.SetString(text);
}

}  // namespace

std::optional<std::string> StoreYamlScalar(const YamlScalar& scalar, BindingProperty& target) {
  if (scalar.tag != nullptr) return StoreTagged(scalar.tag, scalar.text, target);
  if (scalar.quoted) {
    target.SetString(scalar.text);
    return std::nullopt;
  }
  StoreUntagged(scalar.text, target);
  return std::nullopt;
}

}  // namespace Tesk::YamlInternal
