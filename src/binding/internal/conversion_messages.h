// Every failure message of the native/dynamic conversions, in one place.
// Placeholders are filled by Format; the comment after each names them.
#pragma once

#include <string_view>

namespace Tesk::BindingInternal {

// %1 label
inline constexpr std::string_view kValueRequired = "A value for '%1' is required.";
// %1 text, %2 label
inline constexpr std::string_view kBoolFormat =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
// %1 label, %2 kind name
inline constexpr std::string_view kBoolInvalidType =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
// %1 value or text, %2 label, %3 type name
inline constexpr std::string_view kNumberOutOfRange =
    "Value %1 for '%2' of type %3 is out of range";
// %1 text, %2 label, %3 type name
inline constexpr std::string_view kNumberFormat =
    "Value %1 for '%2' of type %3 is in an incorrect format";
// %1 label, %2 type name, %3 kind name
inline constexpr std::string_view kNumberInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
// %1 value or text, %2 enumeration name, %3 label
inline constexpr std::string_view kEnumValueNotValid =
    "%1 is not a valid %2 enumeration value for '%3'.";
// %1 label, %2 kind name
inline constexpr std::string_view kEnumInvalidType =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
// %1 value, %2 label
inline constexpr std::string_view kEnumValueWithoutName =
    "%1 is not a valid enumeration value for '%2'.";
// %1 label
inline constexpr std::string_view kNotString =
    "Couldn't assign value to '%1' because the input is not a string.";
// %1 label
inline constexpr std::string_view kVectorNotCollection =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
// %1 label
inline constexpr std::string_view kStructureNotRegistered =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
// %1 label, %2 type name
inline constexpr std::string_view kNotStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// %1 label, %2 type name, %3 field name
inline constexpr std::string_view kRequiredFieldMissing =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
inline constexpr std::string_view kNativeStructureNotRegistered =
    "Couldn't convert native value because it's an unregistered structure.";
// %1 label, %2 tag name
inline constexpr std::string_view kHostValueIncompatible =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";
// %1 label, %2 the deepest nesting converted
inline constexpr std::string_view kHostValueTooDeep =
    "Couldn't assign value to '%1' because the input is nested deeper than %2 levels.";

}  // namespace Tesk::BindingInternal
