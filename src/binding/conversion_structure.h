// Conversions of registered structures through their field records, which
// know nothing of the native type but the members' offsets and converters.
// Typed callers use binding/conversion.h.
#pragma once

#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {

class BindingRegistry;
struct BindingTypeInfo;
struct TypeKey;

// Fills the native structure at `target` (of the type of `record`) from the
// members of a structure `input`, field by field in registration order; each
// member is converted with its field name as label. Missing or empty members
// keep their native value unless the field is Required; members that match no
// field are ignored. A null `record` means the type is not registered. Does
// nothing when `result` has already failed.
void FromBindingStructure(BindingResult& result, void* target, const BindingProperty& input,
                          std::string_view label, const BindingTypeInfo* record,
                          const BindingRegistry* registry);

// Makes `out` a structure with one member per field of `record` (of the native
// structure at `source`), leaving out empty values of OmitEmpty fields. `out`
// must not belong to `result`'s value; it is unspecified after a failure.
void ToBindingStructure(BindingResult& result, BindingProperty& out, const void* source,
                        const BindingTypeInfo* record, const BindingRegistry* registry);

namespace BindingInternal {

// The registered record of `key`; null without a registry or record.
[[nodiscard]] const BindingTypeInfo* FindTypeRecord(const BindingRegistry* registry,
                                                    const TypeKey& key);
// Fails `result` when `input` is not a collection; true when it is one.
[[nodiscard]] bool CheckVectorInput(BindingResult& result, const BindingProperty& input,
                                    std::string_view label);
// Fails `result` with the message for a required value that is absent.
void FailValueRequired(BindingResult& result, std::string_view label);

}  // namespace BindingInternal

}  // namespace Tesk
