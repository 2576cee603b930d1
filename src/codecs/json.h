// JSON to and from BindingProperty. Reading builds the value straight from
// RapidJSON's SAX events; writing feeds RapidJSON's Writer or PrettyWriter from
// a walk over the value. Structures come out in their own (byte-wise name)
// order, not in the order they were read.
#pragma once

#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

class BindingRegistry;

// The deepest nesting of arrays and objects a document may have.
inline constexpr unsigned kMaxJsonDepth = 512;

// Reads one JSON document. The text ends at its first NUL. On failure the
// result holds "Error: <text> at offset <byte offset>.".
[[nodiscard]] BindingResult ParseJson(std::string_view text);
[[nodiscard]] BindingResult ParseJson(const std::string& text);
[[nodiscard]] BindingResult ParseJson(const char* text);

// Compact text when `lineBreak` is empty; otherwise indented by four spaces per
// level with `lineBreak` between lines. An empty root writes as "". Enum values
// are written by name when `registry` knows the name, else as numbers; blobs as
// Base64; NaN and infinite floats as null.
[[nodiscard]] std::string WriteJson(const BindingProperty& value,
                                    const BindingRegistry* registry = nullptr,
                                    std::string_view lineBreak = {});

}  // namespace Tesk
