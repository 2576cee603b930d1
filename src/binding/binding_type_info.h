// The records of registered types: structures with their fields, enumerations
// with their enumerators. Records are owned by their BindingRegistry and keep
// their addresses for its whole life; pointers to them are views valid as long
// as the registry. A record is filled by its builder during start-up and only
// read afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_converter.h"
#include "binding/binding_value_type.h"
#include "binding/type_key.h"

namespace Tesk {

class BindingRegistry;
struct BindingTypeInfo;

// Bits of BindingFieldInfo::flags.
struct BindingFieldFlags {
  // Native to BindingProperty: leave the member out when its value is empty,
  // false, zero, an enumeration value 0 or of size 0.
  static constexpr uint32_t OmitEmpty = 1;
  // BindingProperty to native: a missing or empty member is an error.
  static constexpr uint32_t Required = 2;
};

// One member of a registered structure.
struct BindingFieldInfo {
  std::string name{};
  uint32_t nameHash = 0;  // BindingStringHash(name)
  std::string description{};
  const TypeKey* typeKey = nullptr;  // of the member's native type; never null once added
  uint32_t offset = 0;               // of the member inside the native structure
  BindingTypeIdentifier type{};
  // Shown by help instead of `type` when its type is not None.
  BindingTypeIdentifier helpType{};
  uint32_t flags = 0;  // BindingFieldFlags
  BindingConverter converter{};
  bool optional = false;  // reported by help only
  const BindingTypeInfo* owner = nullptr;
};

struct BindingEnumerator {
  std::string name{};
  int32_t value = 0;
  std::string description{};
  const BindingTypeInfo* owner = nullptr;
};

// A registered structure or enumeration.
struct BindingTypeInfo {
  uint32_t size = 0;  // of the native type, in bytes
  bool isEnum = false;
  std::string name{};  // unique in the registry
  uint32_t id = 0;
  const TypeKey* typeKey = nullptr;  // never null
  std::string nameSpace{};
  std::string description{};
  std::vector<std::string> tags{};
  std::vector<BindingFieldInfo> fields{};  // structures, in registration order
  // Enumerations, in ascending byte-wise order of their names.
  std::vector<BindingEnumerator> enumerators{};
  BindingRegistry* owner = nullptr;

  // The enumerator named exactly `enumeratorName` (byte-wise, case-sensitive); null if none.
  [[nodiscard]] const BindingEnumerator* FindEnumerator(std::string_view enumeratorName) const;
  // The first enumerator in name order whose value is `value`; null if none.
  [[nodiscard]] const BindingEnumerator* FindEnumeratorByValue(int32_t value) const;
};

}  // namespace Tesk
