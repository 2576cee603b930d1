#include "codecs/internal/enum_names.h"

namespace Tesk::CodecsInternal {

std::optional<std::string_view> EnumeratorName(const BindingRegistry* registry,
                                               BindingEnumValue value) {
  if (registry == nullptr || value.type == nullptr) return std::nullopt;
  // Filled in when the type registry lands.
  return std::nullopt;
}

}  // namespace Tesk::CodecsInternal
