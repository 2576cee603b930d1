// Conversions between native values and BindingProperty, for every native type
// of binding/binding_native_type.h: ToBinding, FromBinding, FromBindingRequired,
// and the converter tables that registered fields hold.
//
// From-binding conversions do nothing when handed a failed result, report the
// first failure through the result (its value becomes {"error": message}) and
// leave the native target as far as it was filled. `label` names the value in
// messages; the members of a structure are labelled with their field names,
// the elements of a vector with the vector's label. `registry` may be null:
// structures then do not convert and enumerations have no names.
//
// Threads: a conversion touches only the values handed to it; the registry is
// consulted through its own lock.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_converter.h"
#include "binding/binding_native_type.h"
#include "binding/binding_property.h"
#include "binding/conversion_scalar.h"
#include "binding/conversion_structure.h"
#include "binding/type_key.h"

namespace Tesk {

namespace BindingInternal {

// The conversions with an explicit type record: the record of an enumeration
// or structure, of the elements for a vector, ignored otherwise.
template <BindingNativeType T>
void FromBindingNative(BindingResult& result, T& target, const BindingProperty& input,
                       std::string_view label, const BindingTypeInfo* record,
                       const BindingRegistry* registry);
template <BindingNativeType T>
void ToBindingNative(BindingResult& result, BindingProperty& out, const T& value,
                     const BindingTypeInfo* record, const BindingRegistry* registry);

template <class T>
void FromBindingVector(BindingResult& result, std::vector<T>& target, const BindingProperty& input,
                       std::string_view label, const BindingTypeInfo* elementRecord,
                       const BindingRegistry* registry) {
  if (!result.ok) return;
  target.clear();
  if (!CheckVectorInput(result, input, label)) return;
  const std::span<const BindingProperty> elements = input.Elements();
  target.resize(elements.size());
  for (size_t index = 0; index < elements.size() && result.ok; ++index) {
    // Empty elements leave their native element default-constructed.
    if (!elements[index].IsEmpty()) {
      FromBindingNative(result, target[index], elements[index], label, elementRecord, registry);
    }
  }
}

template <class T>
void ToBindingVector(BindingResult& result, BindingProperty& out, const std::vector<T>& value,
                     const BindingTypeInfo* elementRecord, const BindingRegistry* registry) {
  out.MakeCollection();
  if (value.size() > kMaxCollectionSize) {
    out.Reserve(kMaxCollectionSize + 1);  // fails with the collection's length error
  }
  out.Reserve(static_cast<uint32_t>(value.size()));
  for (size_t index = 0; index < value.size(); ++index) {
    ToBindingNative(result, out.Append(), value[index], elementRecord, registry);
    if (!result.ok) return;
  }
}

template <BindingNativeType T>
void FromBindingNative(BindingResult& result, T& target, const BindingProperty& input,
                       std::string_view label, const BindingTypeInfo* record,
                       const BindingRegistry* registry) {
  if (!result.ok) return;
  if constexpr (BindingBoolType<T>) {
    FromBindingBool(result, target, input, label);
  } else if constexpr (BindingSignedType<T>) {
    int64_t value = 0;
    FromBindingSignedInteger(result, value, input, label, std::numeric_limits<T>::min(),
                             std::numeric_limits<T>::max(),
                             BindingValueTypeName(BindingValueTypeOf<T>()));
    if (result.ok) target = static_cast<T>(value);
  } else if constexpr (BindingUnsignedType<T>) {
    uint64_t value = 0;
    FromBindingUnsignedInteger(result, value, input, label, std::numeric_limits<T>::max(),
                               BindingValueTypeName(BindingValueTypeOf<T>()));
    if (result.ok) target = static_cast<T>(value);
  } else if constexpr (BindingFloatType<T>) {
    double value = 0;
    FromBindingFloatingPoint(result, value, input, label, -std::numeric_limits<T>::max(),
                             std::numeric_limits<T>::max(),
                             BindingValueTypeName(BindingValueTypeOf<T>()));
    if (result.ok) target = static_cast<T>(value);
  } else if constexpr (BindingStringType<T>) {
    FromBindingString(result, target, input, label, registry);
  } else if constexpr (BindingObjectType<T>) {
    FromBindingObject(result, target, input);
  } else if constexpr (BindingEnumType<T>) {
    int32_t value = 0;
    FromBindingEnumeration(result, value, input, label, record);
    if (result.ok) target = static_cast<T>(value);
  } else if constexpr (BindingStructureType<T>) {
    FromBindingStructure(result, &target, input, label, record, registry);
  } else {
    FromBindingVector(result, target, input, label, record, registry);
  }
}

template <BindingNativeType T>
void ToBindingNative(BindingResult& result, BindingProperty& out, const T& value,
                     const BindingTypeInfo* record, const BindingRegistry* registry) {
  if (!result.ok) return;
  if constexpr (BindingBoolType<T>) {
    out.SetBool(value);
  } else if constexpr (BindingSignedType<T>) {
    out.SetSigned(value);
  } else if constexpr (BindingUnsignedType<T>) {
    out.SetUnsigned(value);
  } else if constexpr (BindingFloatType<T>) {
    out.SetFloat(value);
  } else if constexpr (BindingStringType<T>) {
    out.SetString(value);
  } else if constexpr (BindingObjectType<T>) {
    out = value;
  } else if constexpr (BindingEnumType<T>) {
    out.SetEnum(BindingEnumValue{static_cast<int32_t>(value), &TypeKeyOf<T>()});
  } else if constexpr (BindingStructureType<T>) {
    ToBindingStructure(result, out, &value, record, registry);
  } else {
    ToBindingVector(result, out, value, record, registry);
  }
}

// The record conversions of T use when none is given: the registered record of
// an enumeration or structure, of the elements of a vector.
template <BindingNativeType T>
[[nodiscard]] const BindingTypeInfo* DefaultRecordOf(const BindingRegistry* registry) {
  if constexpr (BindingEnumType<T> || BindingStructureType<T>) {
    return FindTypeRecord(registry, TypeKeyOf<T>());
  } else if constexpr (BindingVectorType<T>) {
    return DefaultRecordOf<typename T::value_type>(registry);
  } else {
    return nullptr;
  }
}

template <BindingNativeType T>
void ConvertFromBinding(BindingResult& result, void* target, const BindingProperty& input,
                        std::string_view label, const BindingTypeInfo* record,
                        const BindingRegistry* registry) {
  FromBindingNative(result, *static_cast<T*>(target), input, label, record, registry);
}

template <BindingNativeType T>
void ConvertToBinding(BindingResult& result, BindingProperty& out, const void* source,
                      const BindingTypeInfo* record, const BindingRegistry* registry) {
  ToBindingNative(result, out, *static_cast<const T*>(source), record, registry);
}

}  // namespace BindingInternal

// The type identifier of a native type, with the registered record of its
// enumeration or structure (of its elements for a vector), null when that is
// not registered in `registry` (may be null).
template <BindingNativeType T>
[[nodiscard]] BindingTypeIdentifier TypeIdentifierOf(const BindingRegistry* registry) {
  return BindingTypeIdentifier{BindingValueTypeOf<T>(), BindingElementTypeOf<T>(),
                               BindingInternal::DefaultRecordOf<T>(registry)};
}

// The converter table of a native type, shared by every field of that type.
template <BindingNativeType T>
inline constexpr BindingConverterOps kBindingConverterOps{&BindingInternal::ConvertFromBinding<T>,
                                                          &BindingInternal::ConvertToBinding<T>};

// Native to BindingProperty. Resets `result` to an ok empty value first. The
// overload with `record` uses it as the type record of T (of its elements for a
// vector) instead of looking T up in `registry`.
template <BindingNativeType T>
void ToBinding(BindingResult& result, const T& value, const BindingTypeInfo* record,
               const BindingRegistry* registry) {
  result.value.Reset();
  result.ok = true;
  BindingProperty out;
  BindingInternal::ToBindingNative(result, out, value, record, registry);
  if (result.ok) result.value = std::move(out);
}

template <BindingNativeType T>
void ToBinding(BindingResult& result, const T& value, const BindingRegistry* registry) {
  ToBinding(result, value, BindingInternal::DefaultRecordOf<T>(registry), registry);
}

// BindingProperty to native. The overload with `record` as for ToBinding.
template <BindingNativeType T>
void FromBinding(BindingResult& result, T& target, const BindingProperty& input,
                 std::string_view label, const BindingTypeInfo* record,
                 const BindingRegistry* registry) {
  BindingInternal::FromBindingNative(result, target, input, label, record, registry);
}

template <BindingNativeType T>
void FromBinding(BindingResult& result, T& target, const BindingProperty& input,
                 std::string_view label, const BindingRegistry* registry) {
  if (!result.ok) return;
  FromBinding(result, target, input, label, BindingInternal::DefaultRecordOf<T>(registry),
              registry);
}

// As FromBinding, but an empty input fails with "A value for '%1' is required."
// first, whatever T is (structures and vectors included).
template <BindingNativeType T>
void FromBindingRequired(BindingResult& result, T& target, const BindingProperty& input,
                         std::string_view label, const BindingTypeInfo* record,
                         const BindingRegistry* registry) {
  if (!result.ok) return;
  if (input.IsEmpty()) return BindingInternal::FailValueRequired(result, label);
  FromBinding(result, target, input, label, record, registry);
}

template <BindingNativeType T>
void FromBindingRequired(BindingResult& result, T& target, const BindingProperty& input,
                         std::string_view label, const BindingRegistry* registry) {
  if (!result.ok) return;
  if (input.IsEmpty()) return BindingInternal::FailValueRequired(result, label);
  FromBinding(result, target, input, label, registry);
}

}  // namespace Tesk
