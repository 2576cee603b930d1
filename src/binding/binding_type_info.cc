#include "binding/binding_type_info.h"

#include <algorithm>

namespace Tesk {

const BindingEnumerator* BindingTypeInfo::FindEnumerator(std::string_view enumeratorName) const {
  const auto at = std::lower_bound(
      enumerators.begin(), enumerators.end(), enumeratorName,
      [](const BindingEnumerator& e, std::string_view name) { return e.name < name; });
  return at != enumerators.end() && at->name == enumeratorName ? &*at : nullptr;
}

const BindingEnumerator* BindingTypeInfo::FindEnumeratorByValue(int32_t value) const {
  for (const BindingEnumerator& e : enumerators) {
    if (e.value == value) return &e;
  }
  return nullptr;
}

}  // namespace Tesk
