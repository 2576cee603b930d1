#include "codecs/internal/enum_names.h"

#include "binding/binding_registry.h"

namespace Tesk::CodecsInternal {

std::optional<std::string_view> EnumeratorName(const BindingRegistry* registry,
                                               BindingEnumValue value) {
  if (registry == nullptr || value.type == nullptr) return std::nullopt;
  return registry->EnumeratorName(*value.type, value.value);
}

}  // namespace Tesk::CodecsInternal
