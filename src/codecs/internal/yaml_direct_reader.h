// The usual way of reading YAML: bottom-up, through BindingTreeBuilder, for a
// document that needs none of the rules only the general reader applies.
#pragma once

#include <cstddef>

#include "binding/binding_property.h"

namespace Tesk::YamlInternal {

// Reads one document into `root` (an empty root value) when it has no anchor
// or alias, no mapping that names a key twice, no second document and no
// failure of any kind. Otherwise returns false, and `root` is to be discarded:
// the general reader, which builds top-down and applies the rules for those
// cases, then reads the text from the start and gives the result, failures
// included. Both type scalars alike, so the usual document reads the same
// either way. Throws std::bad_alloc when memory runs out.
[[nodiscard]] bool ReadYamlDirect(const char* text, size_t length, BindingProperty& root);

}  // namespace Tesk::YamlInternal
