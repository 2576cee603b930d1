// Short builders of BindingProperty values for the binding tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "binding/binding_property.h"

namespace Tesk::Testing {

inline BindingProperty Empty() { return {}; }

inline BindingProperty Bool(bool value) {
  BindingProperty p;
  p.SetBool(value);
  return p;
}

inline BindingProperty Signed(int64_t value) {
  BindingProperty p;
  p.SetSigned(value);
  return p;
}

inline BindingProperty Unsigned(uint64_t value) {
  BindingProperty p;
  p.SetUnsigned(value);
  return p;
}

inline BindingProperty Float(double value) {
  BindingProperty p;
  p.SetFloat(value);
  return p;
}

inline BindingProperty Text(std::string_view text) {
  BindingProperty p;
  p.SetString(text);
  return p;
}

inline BindingProperty Blob(std::initializer_list<uint8_t> bytes) {
  BindingProperty p;
  p.SetBlob(std::span<const uint8_t>(bytes.begin(), bytes.size()));
  return p;
}

inline BindingProperty Enum(int32_t value, const TypeKey* type = nullptr) {
  BindingProperty p;
  p.SetEnum(BindingEnumValue{value, type});
  return p;
}

inline BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
  BindingProperty p;
  p.MakeCollection();
  for (const BindingProperty& element : elements) p.Append() = element;
  return p;
}

inline BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> members) {
  BindingProperty p;
  p.MakeStructure();
  for (const auto& [name, value] : members) p.MemberRef(name) = value;
  return p;
}

}  // namespace Tesk::Testing
