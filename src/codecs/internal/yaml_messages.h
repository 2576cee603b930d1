// The texts of the YAML reader's failures, in one table. Placeholders are
// positional (Format); "At line: %N col: %M" counts from 1 except in the parser
// error, which passes on libyaml's own count from 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace Tesk::YamlInternal {

enum class YamlMessage : uint8_t {
  MultiDocument,       // a second document after one that produced a value
  InvalidMappingKey,   // %1 line, %2 col: a tagged non-string key, or an alias to a non-string
  SequenceAsKey,       // %1 line, %2 col
  MappingAsKey,        // %1 line, %2 col
  DuplicateAnchor,     // %1 anchor, %2 line, %3 col
  CyclicAlias,         // %1 anchor, %2 line, %3 col: an alias to a node still open
  UndefinedAlias,      // %1 anchor, %2 line, %3 col
  UnsupportedTag,      // %1 tag
  ParserError,         // %1 libyaml's problem, %2 line, %3 col (from 0)
  NestingTooDeep,      // %1 line, %2 col
  AliasNodesExceeded,  // %1 line, %2 col
  AliasTextExceeded,   // %1 line, %2 col
};

inline constexpr std::string_view kYamlMessages[] = {
    "Multi-document YAML is not supported.",
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2",
    "Unexpected start of sequence. At line: %1 col: %2",
    "Unexpected start of mapping. At line: %1 col: %2",
    "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3",
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3",
    "Undefined alias encountered: \"%1\". At line: %2 col: %3",
    "Unsupported YAML tag '%1'.",
    "YAML parser error: %1. At line: %2 col: %3",
    "YAML nesting is too deep. At line: %1 col: %2",
    "YAML aliases expand to too many nodes. At line: %1 col: %2",
    "YAML aliases expand to too much text. At line: %1 col: %2",
};

static_assert(std::size(kYamlMessages) == static_cast<size_t>(YamlMessage::AliasTextExceeded) + 1);

[[nodiscard]] constexpr std::string_view Text(YamlMessage message) {
  return kYamlMessages[static_cast<uint8_t>(message)];
}

// The label the number conversions name the value by.
inline constexpr std::string_view kYamlLabel = "yaml";

}  // namespace Tesk::YamlInternal
