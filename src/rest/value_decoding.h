// Turning the texts a request carries into BindingProperty values: argument
// values from headers, the path and the query string, and request bodies.
#pragma once

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

// Decodes one argument value. A structured value (for a parameter of type
// object, vector or struct) that starts as a MessagePack map or array, as JSON
// ("{" or "[" after spaces) or as YAML ("---" after spaces) is read by that
// codec; anything else is stored as a string for the native conversion to
// read later. A codec failure names `label` (the parameter, or the rest of a
// dotted path) and `functionName`.
[[nodiscard]] BindingResult DecodeArgumentValue(std::string_view text, bool structured,
                                                std::string_view label,
                                                std::string_view functionName);

// Reads a request body by its content type (case-insensitive prefix):
// "application/x-msgpack" (exactly one value), "application/json" and
// "application/vnd.api+json", "application/x-yaml" (texts end at the first
// NUL). `contentType` may be null; `body` may be null when `length` is 0.
[[nodiscard]] BindingResult DecodeBody(const char* contentType, const char* body, size_t length);

}  // namespace Tesk
