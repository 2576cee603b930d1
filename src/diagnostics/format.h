// The positional formatter: fills message templates such as "%1.%2.%3" or
// "Cannot read %1 at offset %2$u" from a short list of typed arguments.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Tesk {

// An integer type that FormatArg prints as a number. Characters print as
// characters and bool has no kind of its own, so both are left out.
template <class T>
concept FormatInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                        !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
                        !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

// One argument of Format: a kind and a value. Texts are views: a FormatArg does
// not own its text and is meant to live only for the call to Format it is built
// for. Other types convert themselves to text or to a number first.
class FormatArg {
 public:
  // The kind fixes the printf conversions the argument accepts and its default.
  enum class Kind : uint8_t { Int32, UInt32, Int64, UInt64, Char, Float, Text };

  // The constructors are implicit, so that Format(t, name, count) reads plainly.
  // Integers pick the kind of their size and signedness, so int, long,
  // long long and size_t print correctly on 32- and 64-bit targets alike.
  template <FormatInteger T>
  constexpr FormatArg(T value) noexcept
      : kind_(IntegerKind<T>()), bits_(static_cast<uint64_t>(value)) {}
  constexpr FormatArg(char value) noexcept
      : kind_(Kind::Char), bits_(static_cast<uint64_t>(static_cast<int64_t>(value))) {}
  template <std::floating_point T>
  constexpr FormatArg(T value) noexcept : kind_(Kind::Float), float_(static_cast<double>(value)) {}
  // A null pointer prints as "(null)".
  constexpr FormatArg(const char* text) noexcept
      : kind_(Kind::Text), text_(text != nullptr ? std::string_view(text) : "(null)") {}
  constexpr FormatArg(std::string_view text) noexcept : kind_(Kind::Text), text_(text) {}
  FormatArg(const std::string& text) noexcept : kind_(Kind::Text), text_(text) {}
  // A bool would otherwise become a number or a character unnoticed: convert
  // it to the text or number the message wants.
  FormatArg(bool) = delete;

  [[nodiscard]] constexpr Kind kind() const noexcept { return kind_; }
  // Integer kinds: the value, sign-extended to 64 bits for signed kinds and Char.
  [[nodiscard]] constexpr uint64_t integerBits() const noexcept { return bits_; }
  // Float kind.
  [[nodiscard]] constexpr double floatValue() const noexcept { return float_; }
  // Text kind; not NUL-terminated in general.
  [[nodiscard]] constexpr std::string_view text() const noexcept { return text_; }

 private:
  template <class T>
  static constexpr Kind IntegerKind() noexcept {
    if constexpr (sizeof(T) > 4) {
      return std::signed_integral<T> ? Kind::Int64 : Kind::UInt64;
    } else {
      return std::signed_integral<T> ? Kind::Int32 : Kind::UInt32;
    }
  }

  Kind kind_;
  uint64_t bits_ = 0;
  double float_ = 0;
  std::string_view text_;
};

// Fills `templateText`:
// - "%N" (N from 1 to the argument count) prints argument N with the default
//   conversion of its kind; "%N$spec" prints it with a printf specification;
// - any other "%spec" (flags, width, precision, length, conversion; "*" and
//   "*N$" take a width or precision from an integer argument) prints the next
//   argument in order; "%%" is "%";
// - a conversion letter the argument's kind does not accept is replaced by the
//   kind's default ("%x" on a text prints the text).
// The text ends where a placeholder cannot be parsed or names a missing
// argument, and is cut after 4095 bytes; arguments no placeholder uses are
// ignored. Widths and precisions above 8192 count as 8192. Allocates only the
// returned text. Thread-safe.
[[nodiscard]] std::string Format(std::string_view templateText, std::span<const FormatArg> args);

template <class... A>
requires(std::convertible_to<const A&, FormatArg>&&...) [[nodiscard]] std::string
    Format(std::string_view templateText, const A&... args) {
  const std::array<FormatArg, sizeof...(A)> list{FormatArg(args)...};
  return Format(templateText, std::span<const FormatArg>(list));
}

}  // namespace Tesk
