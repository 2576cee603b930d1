// Deep equality of two values for the fuzz targets' checks, with floats
// compared by their bits, so that a not-a-number equals itself.
#pragma once

#include <cstdint>
#include <cstring>

#include "binding/binding_property.h"

namespace KtxFuzz {

inline bool SameValue(const Tesk::BindingProperty& a, const Tesk::BindingProperty& b) {
  if (a.Kind() != b.Kind()) return false;
  switch (a.Kind()) {
    case Tesk::BindingPropertyKind::Float: {
      const double x = a.GetFloat();
      const double y = b.GetFloat();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case Tesk::BindingPropertyKind::Collection: {
      if (a.Size() != b.Size()) return false;
      for (uint32_t i = 0; i < a.Size(); ++i) {
        if (!SameValue(a.At(i), b.At(i))) return false;
      }
      return true;
    }
    case Tesk::BindingPropertyKind::Structure: {
      if (a.Size() != b.Size()) return false;
      auto other = b.Members().begin();
      for (const auto member : a.Members()) {
        const auto counterpart = *other++;
        if (member.name != counterpart.name || !SameValue(member.value, counterpart.value)) {
          return false;
        }
      }
      return true;
    }
    case Tesk::BindingPropertyKind::Empty:
    case Tesk::BindingPropertyKind::Bool:
    case Tesk::BindingPropertyKind::Signed:
    case Tesk::BindingPropertyKind::Unsigned:
    case Tesk::BindingPropertyKind::String:
    case Tesk::BindingPropertyKind::Blob:
    case Tesk::BindingPropertyKind::Enum:
      return a == b;
  }
  return false;
}

}  // namespace KtxFuzz
