// Conversions of single values from BindingProperty: bool, integers and floating
// point within a range, strings, enumerations and whole dynamic values. Each
// does nothing when `result` has already failed, writes `target` only on
// success and otherwise fails `result` with the message for the situation;
// `label` names the value in messages. Typed callers use binding/conversion.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

class BindingRegistry;
struct BindingTypeInfo;

// Texts "1", "true", "0", "false" are accepted besides bool values.
void FromBindingBool(BindingResult& result, bool& target, const BindingProperty& input,
                     std::string_view label);

// Integers within [min, max] (min <= 0 <= max) from numbers, numeric texts
// (strtoll, base 0) and enumeration values; floats are truncated toward zero.
// `typeName` is how messages name the type ("int32").
void FromBindingSignedInteger(BindingResult& result, int64_t& target, const BindingProperty& input,
                              std::string_view label, int64_t min, int64_t max,
                              std::string_view typeName);

// Integers within [0, max] likewise (strtoull, base 0; a negative text is out of range).
void FromBindingUnsignedInteger(BindingResult& result, uint64_t& target,
                                const BindingProperty& input, std::string_view label, uint64_t max,
                                std::string_view typeName);

// Floating point within [lo, hi] from numbers, numeric texts (strtod) and
// enumeration values.
void FromBindingFloatingPoint(BindingResult& result, double& target, const BindingProperty& input,
                              std::string_view label, double lo, double hi,
                              std::string_view typeName);

// Texts, and enumeration values by their enumerator's name in `registry`
// (null: enumeration values have no name).
void FromBindingString(BindingResult& result, std::string& target, const BindingProperty& input,
                       std::string_view label, const BindingRegistry* registry);

// A value of the enumeration `record`, given as its number, its enumerator's
// name, a numeric text or an enumeration value. Without a record (the
// enumeration is not registered) the value converts as a plain signed 32-bit
// integer.
void FromBindingEnumeration(BindingResult& result, int32_t& target, const BindingProperty& input,
                            std::string_view label, const BindingTypeInfo* record);

// A deep copy of any input, the empty value included.
void FromBindingObject(BindingResult& result, BindingProperty& target,
                       const BindingProperty& input);

}  // namespace Tesk
