// Introspection help: what registered functions, types and events say about
// themselves, either as the native help structures (BindingHelpFormat::Full)
// converted to BindingProperty, or as epytext documentation (Epytext).
#pragma once

#include <span>

#include "binding/binding_function_info.h"
#include "binding/binding_help_types.h"
#include "binding/binding_property.h"
#include "binding/binding_type_info.h"
#include "binding/binding_value_type.h"

namespace Tesk {

class BindingRegistry;

// Resets `result` to an ok structure with the members "functions", "types" and
// "events", each described from its list sorted by name (byte-wise; null
// entries are skipped):
// - Full: a collection with one element per item, the item's help structure
//   converted through its registered help type in `registry` (the element
//   stays empty when that help type is not registered);
// - Epytext: a structure with one string member per item, named after it;
// - any other format: nothing.
// A member whose list adds nothing stays empty. A help structure that fails
// to convert fails `result` with the conversion's message.
void BuildHelp(BindingResult& result, const BindingRegistry& registry,
               std::span<const BindingFunctionInfo* const> functions,
               std::span<const BindingTypeInfo* const> types,
               std::span<const BindingEventInfo* const> events, BindingHelpFormat format);

// The texts of a type identifier: "vector"/"map" with the element's text, the
// record's name for an enumeration or structure ("enum"/"struct" without a
// record), or the value type's printed name ("" for None and unknown codes).
[[nodiscard]] BindingFullTypeIdentifier TypeText(const BindingTypeIdentifier& type);

// The Full help of one item. Fields are in registration order, enumerators in
// name order; `async` names the return type's record of an asynchronous
// function.
[[nodiscard]] BindingFullFunctionHelp FunctionHelp(const BindingFunctionInfo& function);
[[nodiscard]] BindingFullTypeHelp TypeHelp(const BindingTypeInfo& type);
[[nodiscard]] BindingFullEventHelp EventHelp(const BindingEventInfo& event);

}  // namespace Tesk
