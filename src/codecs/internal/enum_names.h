// The name of an enumeration value, as the writers print it.
#pragma once

#include <optional>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk {
class BindingRegistry;
}

namespace Tesk::CodecsInternal {

// The registered name of `value` in its own enumeration type; none without a
// registry, a type or a matching enumerator.
[[nodiscard]] std::optional<std::string_view> EnumeratorName(const BindingRegistry* registry,
                                                             BindingEnumValue value);

}  // namespace Tesk::CodecsInternal
