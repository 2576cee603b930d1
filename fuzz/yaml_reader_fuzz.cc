// YAML reading must never crash, hang or exhaust memory: a failure holds only
// its message, and a value read stays within the nesting limit and can be
// copied (the copy is recursive over the depth). The general reader alone
// reads every input the same, value or failure, as ParseYaml does by its
// usual bottom-up way.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codecs/internal/yaml_general_reader.h"
#include "codecs/yaml_reader.h"
#include "same_value.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Tesk::BindingResult result = Tesk::ParseYaml(input);
  const Tesk::BindingResult general = Tesk::YamlInternal::ReadYamlGeneral(input.data(), size);
  if (result.ok != general.ok || !KtxFuzz::SameValue(result.value, general.value)) std::abort();
  if (!result.ok) {
    if (result.value.Size() != 1 || result.ErrorText().empty()) std::abort();
    return 0;
  }
  if (Nesting(result.value, Tesk::kYamlMaxNesting) > Tesk::kYamlMaxNesting) std::abort();
  const Tesk::BindingProperty copy(result.value);
  if (copy.Kind() != result.value.Kind() || copy.Size() != result.value.Size()) std::abort();
  return 0;
}
