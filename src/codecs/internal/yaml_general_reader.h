// The general reader of YAML alone: it builds top-down and applies every rule
// (anchors and aliases, a key given twice, documents after an empty one, each
// failure's message). ParseYaml reads the usual document bottom-up and gives
// the same result; tests and the fuzz target compare the two.
#pragma once

#include <cstddef>

#include "binding/binding_property.h"

namespace Tesk::YamlInternal {

[[nodiscard]] BindingResult ReadYamlGeneral(const char* text, size_t length);

}  // namespace Tesk::YamlInternal
