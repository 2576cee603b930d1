#include "diagnostics/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "diagnostics/internal/placeholder_syntax.h"

namespace Tesk {
namespace {

using Diagnostics::Internal::Amount;
using Diagnostics::Internal::AmountSource;
using Diagnostics::Internal::ParsePlaceholder;
using Diagnostics::Internal::PlaceholderSyntax;

constexpr size_t kBufferSize = 4096;
constexpr size_t kMaxOutput = kBufferSize - 1;

// Widths and precisions beyond this cannot show more than padding or zeros in
// 4095 bytes; larger ones would only cost the runtime time (seconds for a width
// near INT_MAX) or make it fail.
constexpr int kMaxAmount = 8192;

// What a kind accepts: conversion letters (the first is the default), whether
// a bare placeholder adds "ll", whether it can give a width or precision.
struct KindRules {
  std::string_view letters;
  bool wide;
  bool suppliesAmount;
};

constexpr KindRules RulesOf(FormatArg::Kind kind) {
  switch (kind) {
    case FormatArg::Kind::Int32:
      return {"dciouxX", false, true};
    case FormatArg::Kind::UInt32:
      return {"ucdioxX", false, true};
    case FormatArg::Kind::Int64:
      return {"dciouxX", true, true};
    case FormatArg::Kind::UInt64:
      return {"ucdioxX", true, true};
    case FormatArg::Kind::Char:
      return {"cdiouxX", false, true};
    case FormatArg::Kind::Float:
      return {"gaefGAEF", false, false};
    case FormatArg::Kind::Text:
      return {"s", false, false};
  }
  return {"s", false, false};
}

// The printf specification actually passed to the runtime: "%", the template's
// flags, "*" and ".*" for any width and precision (always given as int
// arguments), a length modifier that matches the type passed, the letter.
class PrintfSpec {
 public:
  void Append(std::string_view part) {
    const size_t n = std::min(part.size(), sizeof(text_) - 1 - size_);
    if (n == 0) return;
    std::memcpy(text_ + size_, part.data(), n);
    size_ += n;
    text_[size_] = '\0';
  }
  [[nodiscard]] const char* c_str() const { return text_; }

 private:
  // "%", at most 57 flag characters, "*", ".*", "ll" and the letter.
  char text_[72] = {};
  size_t size_ = 0;
};

// The int arguments for "*" and ".*", in order.
struct Stars {
  int values[2] = {};
  int count = 0;
  void Add(int value) { values[count++] = value; }
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class T>
int Print(char* out, size_t size, const PrintfSpec& spec, const Stars& stars, T value) {
  switch (stars.count) {
    case 0:
      return std::snprintf(out, size, spec.c_str(), value);
    case 1:
      return std::snprintf(out, size, spec.c_str(), stars.values[0], value);
    default:
      return std::snprintf(out, size, spec.c_str(), stars.values[0], stars.values[1], value);
  }
}
#pragma GCC diagnostic pop

template <class Signed>
int PrintInteger(char* out, size_t size, const PrintfSpec& spec, const Stars& stars, bool isSigned,
                 uint64_t bits) {
  using Unsigned = std::make_unsigned_t<Signed>;
  // Narrow types are passed promoted; printf narrows them again as "hh" and "h" say.
  return isSigned ? Print(out, size, spec, stars, static_cast<Signed>(bits))
                  : Print(out, size, spec, stars, static_cast<Unsigned>(bits));
}

// Prints an integer kind with integer conversion `letter` (not 'c'). The value
// is converted to the type that `length` names, so "%hd" and "%1$d" on a 64-bit
// value print the narrowed value and "%lld" on a 32-bit value the full one.
int PrintIntegerAs(char* out, size_t size, PrintfSpec spec, const Stars& stars,
                   std::string_view length, char letter, uint64_t bits) {
  const bool isSigned = letter == 'd' || letter == 'i';
  if (length == "L") length = "ll";  // "L" is for floating point only
  spec.Append(length);
  spec.Append({&letter, 1});
  if (length.empty()) return PrintInteger<int>(out, size, spec, stars, isSigned, bits);
  if (length == "hh") return PrintInteger<signed char>(out, size, spec, stars, isSigned, bits);
  if (length == "h") return PrintInteger<short>(out, size, spec, stars, isSigned, bits);
  if (length == "l") return PrintInteger<long>(out, size, spec, stars, isSigned, bits);
  if (length == "j") return PrintInteger<intmax_t>(out, size, spec, stars, isSigned, bits);
  if (length == "z") {
    return PrintInteger<std::make_signed_t<size_t>>(out, size, spec, stars, isSigned, bits);
  }
  if (length == "t") return PrintInteger<ptrdiff_t>(out, size, spec, stars, isSigned, bits);
  return PrintInteger<long long>(out, size, spec, stars, isSigned, bits);
}

// Prints `arg` with `letter` (accepted by its kind) into out[0, size). Returns
// what snprintf returns.
int PrintArgument(char* out, size_t size, const FormatArg& arg, const PlaceholderSyntax& p,
                  std::string_view length, char letter, const Stars& stars, int precision) {
  PrintfSpec spec;
  spec.Append("%");
  spec.Append(p.flags);
  if (p.width.source != AmountSource::None) spec.Append("*");
  switch (arg.kind()) {
    case FormatArg::Kind::Text: {
      // Always bounded by the view's length: the text need not end with a NUL.
      std::string_view text = arg.text();
      const size_t shown =
          precision >= 0 ? std::min(text.size(), static_cast<size_t>(precision)) : text.size();
      Stars withLength = stars;
      withLength.Add(static_cast<int>(std::min<size_t>(shown, INT_MAX)));
      spec.Append(".*s");
      return Print(out, size, spec, withLength, text.empty() ? "" : text.data());
    }
    case FormatArg::Kind::Float: {
      if (p.precision.source != AmountSource::None) spec.Append(".*");
      spec.Append({&letter, 1});
      // glibc prints a NaN with its sign bit as "-nan", mingw-w64 as "nan":
      // the sign of a NaN means nothing, so every target prints "nan".
      const double value = arg.floatValue();
      return Print(out, size, spec, stars, std::isnan(value) ? std::fabs(value) : value);
    }
    case FormatArg::Kind::Int32:
    case FormatArg::Kind::UInt32:
    case FormatArg::Kind::Int64:
    case FormatArg::Kind::UInt64:
    case FormatArg::Kind::Char:
      if (p.precision.source != AmountSource::None) spec.Append(".*");
      if (letter == 'c') {
        spec.Append("c");
        return Print(out, size, spec, stars, static_cast<int>(arg.integerBits()));
      }
      return PrintIntegerAs(out, size, spec, stars, length, letter, arg.integerBits());
  }
  return -1;
}

// Walks the template into a fixed buffer; see Format in the header.
class Formatter {
 public:
  explicit Formatter(std::span<const FormatArg> args) : args_(args) {}

  std::string Run(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && size_ < kMaxOutput) {
      if (text[i] != '%') {
        buffer_[size_++] = text[i++];
      } else if (i + 1 < text.size() && text[i + 1] == '%') {
        buffer_[size_++] = '%';
        i += 2;
      } else {
        const std::optional<PlaceholderSyntax> p = ParsePlaceholder(text.substr(i), args_.size());
        if (!p || !PrintPlaceholder(*p)) break;
        i += p->length;
      }
    }
    return std::string(buffer_, size_);
  }

 private:
  // The argument with 1-based `number`, or the next one in order for 0.
  const FormatArg* Take(uint32_t number) {
    if (number == 0) number = nextArgument_++;
    return number >= 1 && number <= args_.size() ? &args_[number - 1] : nullptr;
  }

  // Resolves a width or precision to an int; false when its argument is
  // missing or of a kind that cannot give one.
  bool Resolve(const Amount& amount, int& value) {
    const FormatArg* arg = nullptr;
    switch (amount.source) {
      case AmountSource::None:
        return true;
      case AmountSource::Digits:
        value = static_cast<int>(std::min<uint32_t>(amount.value, kMaxAmount));
        return true;
      case AmountSource::NextArgument:
        arg = Take(0);
        break;
      case AmountSource::Argument:
        arg = Take(amount.value);
        break;
    }
    if (arg == nullptr || !RulesOf(arg->kind()).suppliesAmount) return false;
    // The low 32 bits, as printf reads an int.
    value = static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(arg->integerBits())));
    value = std::clamp(value, -kMaxAmount, kMaxAmount);
    return true;
  }

  // Prints one placeholder; false when formatting stops here.
  bool PrintPlaceholder(const PlaceholderSyntax& p) {
    Stars stars;
    int width = 0;
    int precision = -1;
    if (!Resolve(p.width, width) || !Resolve(p.precision, precision)) return false;
    if (p.width.source != AmountSource::None) stars.Add(width);
    const FormatArg* arg = Take(p.argument);
    if (arg == nullptr) return false;

    const KindRules rules = RulesOf(arg->kind());
    char letter = rules.letters.front();
    std::string_view length;
    if (p.bare) {
      if (rules.wide) length = "ll";
    } else {
      if (p.hasConversion && rules.letters.find(p.conversion) != std::string_view::npos) {
        letter = p.conversion;
      }
      length = p.lengthModifier;
    }
    // Text takes its precision separately, bounded by its length.
    if (p.precision.source != AmountSource::None && arg->kind() != FormatArg::Kind::Text) {
      stars.Add(precision);
    }

    const size_t room = kBufferSize - size_;
    const int printed =
        PrintArgument(buffer_ + size_, room, *arg, p, length, letter, stars, precision);
    if (printed < 0) {
      // A failed print fills the remaining space; what it left there is not
      // trusted, so the text ends before it.
      buffer_[size_] = '\0';
      return false;
    }
    size_ += std::min(static_cast<size_t>(printed), room - 1);
    return true;
  }

  std::span<const FormatArg> args_;
  uint32_t nextArgument_ = 1;
  size_t size_ = 0;
  char buffer_[kBufferSize];
};

}  // namespace

std::string Format(std::string_view templateText, std::span<const FormatArg> args) {
  return Formatter(args).Run(templateText);
}

}  // namespace Tesk
