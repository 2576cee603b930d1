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
// More fails, so that an alias bomb cannot exhaust memory or time.
inline constexpr size_t kYamlAliasNodeBudget = 1'000'000;
inline constexpr size_t kYamlAliasTextBudget = size_t{64} << 20;

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
