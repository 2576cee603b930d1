// Documentation of registered functions, types and events in the epytext
// markup, as help in the format BindingHelpFormat::Epytext gives it. Every
// line ends in "\r\n"; descriptions of functions, types and events are
// escaped, those of arguments are escaped, those of fields and enumerators are
// written as registered.
#pragma once

#include <string>
#include <string_view>

#include "binding/binding_function_info.h"
#include "binding/binding_type_info.h"
#include "binding/binding_value_type.h"

namespace Tesk {

// Escapes epytext markup: a leading "-" becomes "E{-}", every "{" "E{lb}" and
// every "}" "E{rb}". The text ends at its first NUL.
[[nodiscard]] std::string EpytextEscape(std::string_view text);

// "bool" ... "string", "object" for codes 1 to 13, "bytearray" for blobs,
// "list[...]" and "dict[...]" around the element's form, "callback",
// "L{Name}" for an enumeration or structure (with the record's name, empty
// without a record), "" for None and unknown codes.
[[nodiscard]] std::string EpytextTypeText(const BindingTypeIdentifier& type);

// Description, help text, "@param"/"@type" per argument, "@rtype",
// "@tags", "@threadsafe" and "@async" lines.
[[nodiscard]] std::string FunctionEpytext(const BindingFunctionInfo& function);
// A structure: description, "@ivar"/"@type" per field in registration order,
// "@tags". An enumeration: description, "@cvar" per enumerator in ascending
// order of value (equal values in name order), "@tags", "@size".
[[nodiscard]] std::string TypeEpytext(const BindingTypeInfo& type);
// Description (always, even when empty) and "@tags".
[[nodiscard]] std::string EventEpytext(const BindingEventInfo& event);

}  // namespace Tesk
