// YAML reading must never crash, hang or exhaust memory: a failure holds only
// its message, and a value read stays within the nesting limit and can be
// copied (the copy is recursive over the depth). The general reader alone
// reads every input the same, value or failure, as ParseYaml does by its
// usual bottom-up way.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "codecs/internal/yaml_general_reader.h"
#include "codecs/yaml_reader.h"

namespace {

// The nesting of sequences and mappings in `value`, up to `limit` + 1.
size_t Nesting(const Tesk::BindingProperty& value, size_t limit) {
  size_t deepest = 0;
  if (value.Kind() == Tesk::BindingPropertyKind::Collection) {
    for (const Tesk::BindingProperty& element : value.Elements()) {
      const size_t depth = limit == 0 ? 1 : Nesting(element, limit - 1);
      if (depth > deepest) deepest = depth;
    }
  } else if (value.Kind() == Tesk::BindingPropertyKind::Structure) {
    for (const auto member : value.Members()) {
      const size_t depth = limit == 0 ? 1 : Nesting(member.value, limit - 1);
      if (depth > deepest) deepest = depth;
    }
  } else {
    return 0;
  }
  return deepest + 1;
}

// Equal values, floats compared by their bits (a not-a-number read twice is
// the same value).
bool Same(const Tesk::BindingProperty& a, const Tesk::BindingProperty& b) {
  using Kind = Tesk::BindingPropertyKind;
  if (a.Kind() != b.Kind()) return false;
  switch (a.Kind()) {
    case Kind::Float: {
      const double x = a.GetFloat();
      const double y = b.GetFloat();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case Kind::Collection: {
      const auto x = a.Elements();
      const auto y = b.Elements();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!Same(x[i], y[i])) return false;
      }
      return true;
    }
    case Kind::Structure: {
      if (a.Size() != b.Size()) return false;
      auto other = b.Members().begin();
      for (const auto member : a.Members()) {
        const auto next = *other++;
        if (member.name != next.name || !Same(member.value, next.value)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Tesk::BindingResult result = Tesk::ParseYaml(input);
  const Tesk::BindingResult general = Tesk::YamlInternal::ReadYamlGeneral(input.data(), size);
  if (result.ok != general.ok || !Same(result.value, general.value)) std::abort();
  if (!result.ok) {
    if (result.value.Size() != 1 || result.ErrorText().empty()) std::abort();
    return 0;
  }
  if (Nesting(result.value, Tesk::kYamlMaxNesting) > Tesk::kYamlMaxNesting) std::abort();
  const Tesk::BindingProperty copy(result.value);
  if (copy.Kind() != result.value.Kind() || copy.Size() != result.value.Size()) std::abort();
  return 0;
}
