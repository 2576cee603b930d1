// BindingConverter: what a registered field uses to convert its native member
// to and from BindingProperty without knowing the member's type.
#pragma once

#include <string_view>

namespace Tesk {

class BindingProperty;
class BindingResult;
class BindingRegistry;
struct BindingTypeInfo;

// The operations of one native type; one shared table per type (see
// kBindingConverterOps in binding/conversion.h). `record` is the type record of
// the field's identifier (the enumeration, structure or element structure), or
// null; `registry` may be null.
struct BindingConverterOps {
  // Converts `input` into the native object at `target`. Does nothing when
  // `result` has already failed; reports a failure through `result`.
  void (*fromBinding)(BindingResult& result, void* target, const BindingProperty& input,
                      std::string_view label, const BindingTypeInfo* record,
                      const BindingRegistry* registry);
  // Converts the native object at `source` into `out`, which must not belong to
  // `result`'s own value. Reports a failure through `result`; `out` is then
  // unspecified.
  void (*toBinding)(BindingResult& result, BindingProperty& out, const void* source,
                    const BindingTypeInfo* record, const BindingRegistry* registry);
};

// Held by value in each field. A field whose converter has no table is skipped
// by structure conversions in both directions.
struct BindingConverter {
  const BindingConverterOps* ops = nullptr;
};

}  // namespace Tesk
