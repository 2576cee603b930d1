// Reads one YAML document into a BindingProperty: libyaml's event parser does
// the tokenising; this reader builds the value, resolves anchors and aliases
// and gives scalars their kinds.
#pragma once

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

// Nesting of sequences and mappings that a document may reach, alias copies
// included; deeper input fails, so that the recursive copy, comparison and
// writing of the value stay within a small stack.
inline constexpr size_t kYamlMaxNesting = 512;
// What the alias copies of one document may produce: nodes (resolving an
// alias's path counts too) and bytes of text (strings and member names).
// More fails, so that an alias bomb cannot exhaust memory or time, and a short
// document cannot make a large value: each budget is kYamlAliasPerInputByte
// times the input's size in bytes, at least its floor (room for the anchors a
// small hand-written document reuses) and at most its cap.
inline constexpr size_t kYamlAliasPerInputByte = 10;
inline constexpr size_t kYamlAliasNodeFloor = 10'000;
inline constexpr size_t kYamlAliasTextFloor = size_t{256} << 10;
inline constexpr size_t kYamlAliasNodeBudget = 1'000'000;
inline constexpr size_t kYamlAliasTextBudget = size_t{64} << 20;

struct YamlAliasBudget {
  size_t nodes;
  size_t text;
};

// The alias budgets of a document of `inputBytes` bytes.
[[nodiscard]] constexpr YamlAliasBudget YamlAliasBudgetFor(size_t inputBytes) {
  const auto scaled = [inputBytes](size_t floor, size_t cap) {
    if (inputBytes >= cap / kYamlAliasPerInputByte) return cap;
    const size_t bytes = inputBytes * kYamlAliasPerInputByte;
    return bytes > floor ? bytes : floor;
  };
  return {scaled(kYamlAliasNodeFloor, kYamlAliasNodeBudget),
          scaled(kYamlAliasTextFloor, kYamlAliasTextBudget)};
}

// Reads `length` bytes of UTF-8 from `text` (which need not end with a NUL and
// may be null when `length` is 0). On failure the result holds the message of
// the first problem, with its line and column where it has one. Text reaches
// the value cut at its first NUL, as BindingProperty keeps it. Thread-safe:
// every call has its own parser. Throws std::bad_alloc when memory runs out.
[[nodiscard]] BindingResult ParseYaml(const char* text, size_t length);
[[nodiscard]] inline BindingResult ParseYaml(std::string_view text) {
  return ParseYaml(text.data(), text.size());
}

}  // namespace Tesk
