// The native types the binding layer converts, as concepts, and the value type
// code of each. Any other class type counts as a structure, which converts
// only once it is registered.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/binding_property.h"
#include "binding/binding_value_type.h"

namespace Tesk {

namespace BindingInternal {
template <class T>
struct IsStdVector : std::false_type {};
template <class E>
struct IsStdVector<std::vector<E>> : std::true_type {};
}  // namespace BindingInternal

template <class T>
concept BindingBoolType = std::same_as<T, bool>;

// Characters are texts, not numbers: char, wchar_t and the charN_t are left out.
template <class T>
concept BindingCharacterType = std::same_as<T, char> || std::same_as<T, wchar_t> ||
    std::same_as<T, char8_t> || std::same_as<T, char16_t> || std::same_as<T, char32_t>;

template <class T>
concept BindingSignedType = std::signed_integral<T> && !BindingCharacterType<T>;

template <class T>
concept BindingUnsignedType =
    std::unsigned_integral<T> && !BindingBoolType<T> && !BindingCharacterType<T>;

template <class T>
concept BindingFloatType = std::same_as<T, float> || std::same_as<T, double>;

template <class T>
concept BindingStringType = std::same_as<T, std::string>;

template <class T>
concept BindingObjectType = std::same_as<T, BindingProperty>;

// Enumerations are 32-bit.
template <class T>
concept BindingEnumType = std::is_enum_v<T> && sizeof(T) == sizeof(int32_t);

template <class T>
concept BindingStructureType = std::is_class_v<T> && !BindingStringType<T> &&
                               !BindingObjectType<T> && !BindingInternal::IsStdVector<T>::value;

// What a vector may hold, and what a field may be besides a vector.
template <class T>
concept BindingElementType =
    BindingBoolType<T> || BindingSignedType<T> || BindingUnsignedType<T> || BindingFloatType<T> ||
    BindingStringType<T> || BindingObjectType<T> || BindingEnumType<T> || BindingStructureType<T>;

// std::vector<bool> is a bit set, not a vector of bool: left out.
template <class T>
concept BindingVectorType =
    BindingInternal::IsStdVector<T>::value && BindingElementType<typename T::value_type> &&
    !BindingBoolType<typename T::value_type> &&
    std::default_initializable<typename T::value_type>;

template <class T>
concept BindingNativeType = BindingElementType<T> || BindingVectorType<T>;

// The value type code of a native type.
template <BindingNativeType T>
[[nodiscard]] constexpr BindingValueType BindingValueTypeOf() {
  using V = BindingValueType;
  if constexpr (BindingBoolType<T>) {
    return V::Bool;
  } else if constexpr (BindingSignedType<T>) {
    return sizeof(T) == 1   ? V::Int8
           : sizeof(T) == 2 ? V::Int16
           : sizeof(T) == 4 ? V::Int32
                            : V::Int64;
  } else if constexpr (BindingUnsignedType<T>) {
    return sizeof(T) == 1   ? V::UInt8
           : sizeof(T) == 2 ? V::UInt16
           : sizeof(T) == 4 ? V::UInt32
                            : V::UInt64;
  } else if constexpr (std::same_as<T, float>) {
    return V::Float;
  } else if constexpr (std::same_as<T, double>) {
    return V::Double;
  } else if constexpr (BindingStringType<T>) {
    return V::String;
  } else if constexpr (BindingObjectType<T>) {
    return V::Object;
  } else if constexpr (BindingEnumType<T>) {
    return V::Enum;
  } else if constexpr (BindingStructureType<T>) {
    return V::Struct;
  } else {
    return V::Vector;
  }
}

// The element type code of a vector; None for other types.
template <BindingNativeType T>
[[nodiscard]] constexpr BindingValueType BindingElementTypeOf() {
  if constexpr (BindingVectorType<T>) {
    return BindingValueTypeOf<typename T::value_type>();
  } else {
    return BindingValueType::None;
  }
}

}  // namespace Tesk
