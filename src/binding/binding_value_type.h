// BindingValueType and BindingTypeIdentifier: the shape of a native value as the
// binding layer describes it to conversions and help.
#pragma once

#include <cstdint>

namespace Tesk {

struct BindingTypeInfo;

// The shape of a native value. 0 is "no type"; codes outside 1 to 19 are
// treated as 0 wherever type identifiers are exported.
enum class BindingValueType : uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // a BindingProperty itself, of any kind
  Blob = 14,
  Vector = 15,
  Enum = 16,      // a registered enumeration
  Struct = 17,    // a registered structure
  Callback = 18,  // invocations arrive as the event "OnCallback"
  Map = 19,       // from string to one element type
};

// "bool", "int8", ... "map"; "" for None and any other code. Never null.
[[nodiscard]] const char* BindingValueTypeName(BindingValueType type);

// The full type of a value.
struct BindingTypeIdentifier {
  BindingValueType type = BindingValueType::None;
  // The elements' type for Vector and Map; None otherwise.
  BindingValueType elementType = BindingValueType::None;
  // The registered enumeration or structure for Enum and Struct, or the
  // elements' for a Vector or Map of them; null otherwise, and null when the
  // type was not registered yet when the identifier was made. Owned by the
  // registry, valid as long as it.
  const BindingTypeInfo* typeRecord = nullptr;

  friend bool operator==(const BindingTypeIdentifier&, const BindingTypeIdentifier&) = default;
};

}  // namespace Tesk
