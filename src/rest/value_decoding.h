// Turning the texts a request carries into BindingProperty values: argument
// values from headers, the path and the query string, and request bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

// The status of a request refused because one of its values would reach the
// handler as another value: a string holding a NUL character (stored strings
// end at it), or MessagePack that ends inside an array or map.
inline constexpr uint32_t kRefusedValueStatus = 400;

// A decoded value, or the failure that ends the request with its status:
// kRefusedValueStatus for a refused value, 0 for every other failure.
struct DecodedValue {
  BindingResult result;
  uint32_t httpStatus = 0;
};

// Decodes one argument value. A structured value (for a parameter of type
// object, vector or struct) that starts as a MessagePack map or array, as JSON
// ("{" or "[" after spaces) or as YAML ("---" after spaces) is read by that
// codec; anything else is stored as a string for the native conversion to
// read later. A failure names `label` (the parameter, or the rest of a
// dotted path) and `functionName`. MessagePack that ends inside a container,
// a MessagePack string holding a NUL byte and a JSON string holding a
// "\u0000" escape are refused.
[[nodiscard]] DecodedValue DecodeArgumentValue(std::string_view text, bool structured,
                                               std::string_view label,
                                               std::string_view functionName);

// Reads a request body by its content type (case-insensitive prefix):
// "application/x-msgpack" (exactly one value), "application/json" and
// "application/vnd.api+json", "application/x-yaml" (texts end at the first
// NUL). `contentType` may be null; `body` may be null when `length` is 0.
// `label` names the body's parameter of `functionName` in refusals, which are
// those of DecodeArgumentValue.
[[nodiscard]] DecodedValue DecodeBody(const char* contentType, const char* body, size_t length,
                                      std::string_view label, std::string_view functionName);

// The refusal of an argument value that holds a NUL character, naming the
// argument (a NUL in `name` is shown as "%00").
[[nodiscard]] DecodedValue RefuseNulCharacter(std::string_view name, std::string_view functionName);

}  // namespace Tesk
