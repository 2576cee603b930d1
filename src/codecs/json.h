// JSON to and from BindingProperty. Reading builds the value straight from
// the tokens of an in-place reader (internal/json_tokenizer.h); writing walks the value and writes
// the text straight into the result, laid out as RapidJSON's Writer and PrettyWriter lay it out.
// Structures come out in their own (byte-wise name) order, not in the order they were read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/conversion.h"

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

// Reads `text` and converts it into `out` ("<value>" names the root in
// conversion messages). False when reading or converting fails; `out` is then
// left as far as the conversion filled it.
template <BindingNativeType T>
[[nodiscard]] bool ParseJsonAs(std::string_view text, const BindingRegistry* registry, T& out) {
  BindingResult result = ParseJson(text);
  if (!result.ok) return false;
  const BindingProperty read = std::move(result.value);
  FromBinding(result, out, read, "<value>", registry);
  return result.ok;
}

// The outcome of WriteJsonFrom: the text, or the failure text.
struct JsonWriteResult {
  bool ok = true;
  std::string text;  // the JSON when ok, else the failure message
};

// Converts `value` to a BindingProperty and writes it as WriteJson does.
template <BindingNativeType T>
[[nodiscard]] JsonWriteResult WriteJsonFrom(const T& value, const BindingRegistry* registry,
                                            std::string_view lineBreak = {}) {
  BindingResult converted;
  ToBinding(converted, value, registry);
  if (!converted.ok) {
    return {false, std::string("Failed to convert type ") + TypeKeyOf<T>().readableName +
                       " to BindingProperty for serialization"};
  }
  return {true, WriteJson(converted.value, registry, lineBreak)};
}

}  // namespace Tesk
