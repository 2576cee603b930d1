// Conversion between BindingProperty and HostValue, the plain value form that
// crosses the host boundary.
#pragma once

#include <string_view>

#include "binding/binding_property.h"
#include "host-abi/host_requests.h"
#include "host-abi/host_value.h"

namespace Tesk {

class BindingRegistry;

// A HostValue owning all its parts (texts, blobs, arrays, member names), made
// with the SDK allocator; the caller releases it with ReleaseHostValue.
// Enumeration values become the enumerator's name when `registry` (may be
// null) knows it, their number otherwise. Throws std::bad_alloc when memory is
// exhausted, having released what it made.
[[nodiscard]] HostValue ToHostValue(const BindingProperty& value, const BindingRegistry* registry);

// Frees what `value` owns, recursively, and leaves it empty (tag 0).
void ReleaseHostValue(HostValue& value);

struct HostValueConversion {
  BindingProperty value;
  bool ok = true;
};

// The deepest nesting of collections and structures FromHostValue converts,
// so that the recursive code over values never runs out of stack.
inline constexpr uint32_t kMaxHostValueDepth = 512;

// A BindingProperty from a HostValue of any listed tag; texts end at their
// first NUL. A member name given twice in a structure takes its last value.
// A value of an unlisted tag (anywhere in the tree) or nested deeper than
// kMaxHostValueDepth stops the conversion: `hostResult` (may be null) then has
// its result released, an owned copy of the message in errorText and `failed`
// set, ok is false and the value empty.
[[nodiscard]] HostValueConversion FromHostValue(const HostValue& value, std::string_view label,
                                                ResponseRecord* hostResult);

// "bool", "signed", "unsigned", "float", "string", "blob", "collection",
// "structure"; "" for tag 0 and any unlisted tag. Never null.
[[nodiscard]] const char* HostValueTagName(uint32_t tag);

}  // namespace Tesk
