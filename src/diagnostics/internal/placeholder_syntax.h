// The syntax of one "%" placeholder, read the same way by Format and by
// ConvertNamedTemplate (which copies such placeholders, numbering the ones
// that name no argument).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace Tesk::Diagnostics::Internal {

// The longest placeholder text: "%" and what follows an argument number's "$".
inline constexpr size_t kMaxPlaceholderText = 59;

// Where a width or a precision comes from.
enum class AmountSource : uint8_t {
  None,          // not given
  Digits,        // written in the template; `value` (a lone "." gives precision 0)
  NextArgument,  // "*": the next argument in order
  Argument,      // "*N$": argument `value`
};

struct Amount {
  AmountSource source = AmountSource::None;
  // Digits: the number, saturated at kSaturated. Argument: the 1-based number.
  uint32_t value = 0;
};

struct PlaceholderSyntax {
  static constexpr uint32_t kSaturated = 1'000'000'000;

  size_t length = 0;      // template characters from the "%" through the conversion
  uint32_t argument = 0;  // 1-based argument number; 0 for the next argument
  bool bare = false;      // "%N" alone, or a "%" that ends the template
  std::string_view flags;
  Amount width;
  Amount precision;                 // source None: no "."
  std::string_view lengthModifier;  // "", "hh", "h", "l", "ll", "L", "j", "t" or "z"
  bool hasConversion = false;       // false at the end of the template
  char conversion = 0;              // any character
};

namespace Detail {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }

// Reads the digits at `pos`, advancing it; returns how many there were.
constexpr size_t ReadNumber(std::string_view text, size_t& pos, uint32_t& value) {
  const size_t start = pos;
  value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    const uint32_t digit = static_cast<uint32_t>(text[pos] - '0');
    value = value >= PlaceholderSyntax::kSaturated / 10 ? PlaceholderSyntax::kSaturated
                                                        : value * 10 + digit;
  }
  return pos - start;
}

// A width or precision: digits, "*" or "*N$". False when "*" is followed by
// digits without "$" or by "0$".
constexpr bool ReadAmount(std::string_view text, size_t& pos, Amount& amount) {
  if (pos < text.size() && text[pos] == '*') {
    ++pos;
    size_t after = pos;
    uint32_t number = 0;
    if (ReadNumber(text, after, number) == 0) {
      amount.source = AmountSource::NextArgument;
      return true;
    }
    if (after >= text.size() || text[after] != '$' || number == 0) return false;
    amount = {AmountSource::Argument, number};
    pos = after + 1;
    return true;
  }
  uint32_t number = 0;
  if (ReadNumber(text, pos, number) > 0) amount = {AmountSource::Digits, number};
  return true;
}

constexpr std::string_view ReadLengthModifier(std::string_view text, size_t& pos) {
  if (pos >= text.size()) return {};
  const size_t start = pos;
  switch (text[pos]) {
    case 'h':
    case 'l':
      ++pos;
      if (pos < text.size() && text[pos] == text[start]) ++pos;
      break;
    case 'L':
    case 'j':
    case 't':
    case 'z':
      ++pos;
      break;
    default:
      break;
  }
  return text.substr(start, pos - start);
}

// Flags, width, precision and length modifier from `pos` on; false when an
// amount is malformed. Sets those fields of `p` and nothing else.
constexpr bool ReadSpecification(std::string_view text, size_t& pos, PlaceholderSyntax& p) {
  const size_t flagsStart = pos;
  while (pos < text.size() && IsFlag(text[pos])) ++pos;
  p.flags = text.substr(flagsStart, pos - flagsStart);
  p.width = {};
  p.precision = {};
  if (!ReadAmount(text, pos, p.width)) return false;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    if (!ReadAmount(text, pos, p.precision)) return false;
    if (p.precision.source == AmountSource::None) p.precision = {AmountSource::Digits, 0};
  }
  p.lengthModifier = ReadLengthModifier(text, pos);
  return true;
}

}  // namespace Detail

// Parses the placeholder at the start of `text`, which begins with "%" (and is
// not "%%"). `argumentCount` decides whether leading digits are an argument
// number ("%2", "%2$5d") or a width ("%5d" with fewer than five arguments).
// Returns nullopt when the placeholder cannot be parsed.
constexpr std::optional<PlaceholderSyntax> ParsePlaceholder(std::string_view text,
                                                            size_t argumentCount) {
  PlaceholderSyntax p;
  size_t pos = 1;
  size_t specStart = 1;
  uint32_t number = 0;
  size_t numberEnd = pos;
  if (Detail::ReadNumber(text, numberEnd, number) > 0 && text[1] != '0' &&
      number <= argumentCount) {
    p.argument = number;
    pos = numberEnd;
    if (pos >= text.size() || text[pos] != '$') {
      p.bare = true;
      p.length = pos;
      return p;
    }
    specStart = ++pos;
  }

  if (!Detail::ReadSpecification(text, pos, p)) return std::nullopt;
  if (pos < text.size()) {
    p.hasConversion = true;
    p.conversion = text[pos++];
  } else if (pos > specStart) {
    // Cut off by the end of the template: the last character read stands for
    // the conversion (never a letter of any kind, so the default letter is
    // used), and the flags, width and precision are what precedes it: "%5"
    // prints as "%d".
    PlaceholderSyntax cut = p;
    size_t cutPos = specStart;
    if (!Detail::ReadSpecification(text.substr(0, pos - 1), cutPos, cut) || cutPos != pos - 1) {
      return std::nullopt;
    }
    p = cut;
    p.hasConversion = true;
    p.conversion = text[pos - 1];
  }
  if (1 + (pos - specStart) > kMaxPlaceholderText) return std::nullopt;
  p.bare = pos == specStart;
  p.length = pos;
  return p;
}

}  // namespace Tesk::Diagnostics::Internal
