// Templates with named placeholders ("Error response for {method} {url}: {error}"):
// conversion to a positional template for Format plus the named, typed fields.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "diagnostics/format.h"

namespace Tesk {

enum class FormatArgumentKind : uint32_t {
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  Text = 5,
};

// A typed value that owns its text, kept in the named fields of results.
struct FormatArgument {
  // Implicit, so that a list of arguments reads as {"GET", url, 404}.
  FormatArgument(bool value) : kind(FormatArgumentKind::Bool), number(value ? 1 : 0) {}
  template <FormatInteger T>
  FormatArgument(T value)
      : kind(std::signed_integral<T> ? FormatArgumentKind::Signed : FormatArgumentKind::Unsigned),
        number(static_cast<uint64_t>(value)) {}
  template <std::floating_point T>
  FormatArgument(T value)
      : kind(FormatArgumentKind::Float),
        number(std::bit_cast<uint64_t>(static_cast<double>(value))) {}
  // A null pointer is an empty text.
  FormatArgument(const char* value);
  FormatArgument(std::string_view value) : kind(FormatArgumentKind::Text), text(value) {}
  FormatArgument(std::string value) : kind(FormatArgumentKind::Text), text(std::move(value)) {}
  // A character is a number or a one-character text; say which.
  FormatArgument(char) = delete;

  [[nodiscard]] bool AsBool() const { return number != 0; }
  [[nodiscard]] int64_t AsSigned() const { return static_cast<int64_t>(number); }
  [[nodiscard]] uint64_t AsUnsigned() const { return number; }
  [[nodiscard]] double AsFloat() const { return std::bit_cast<double>(number); }
  // False, 0, a float equal to 0, or an empty text.
  [[nodiscard]] bool IsEmpty() const;
  // The argument for Format: a bool as the text "true" or "false", integers as
  // 64-bit integers, texts as views of `text` (valid while this object lives
  // unchanged).
  [[nodiscard]] FormatArg AsFormatArg() const;

  friend bool operator==(const FormatArgument&, const FormatArgument&) = default;

  FormatArgumentKind kind;
  std::string text;     // Text only
  uint64_t number = 0;  // Bool (0 or 1), Signed, Unsigned, or the bits of a Float
};

// Named fields by name, looked up with any string type.
using NamedFields = std::map<std::string, FormatArgument, std::less<>>;

struct ConvertedTemplate {
  std::string positionalTemplate;  // for Format, with the same arguments
  NamedFields fields;
};

// Converts a template with named placeholders. The n-th placeholder, named
// ("{name}") or printf-style ("%s"), stands for args[n - 1]; a named one
// becomes "%n$" with the default conversion of its kind ("%1$s", "%2$lld",
// "%3$llu", "%4$g"), so that the text after it is always literal, and records
// its argument under its name; a printf-style one that names no argument
// number becomes "%n$" with its own flags and conversion ("%s" is "%2$s"). Inside braces: "!"
// hides the placeholder (and the white space before it), ":" starts a format
// text that is ignored, "?" starts an alternative text printed instead when
// the argument is empty, "\" takes the next character literally; "{#name}"
// appends the argument's type to the name ("_int", "_str", ...) unless it
// has one. "{{" is "{", "}}" is "}". A placeholder whose argument is missing
// produces nothing. Never fails; an unclosed "{" ends the output.
[[nodiscard]] ConvertedTemplate ConvertNamedTemplate(std::string_view templateText,
                                                     std::span<const FormatArgument> args);

}  // namespace Tesk
