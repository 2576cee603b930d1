// The general reader of YAML alone: it builds top-down and applies every rule
// (anchors and aliases, a key given twice, documents after an empty one, each
// failure's message). ParseYaml reads the usual document bottom-up and gives
// the same result; tests and the fuzz target compare the two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/binding_property.h"

namespace Tesk::YamlInternal {

// `expectedNames`: how many member names an earlier read of the text met, if
// known (the table of names is sized for them once).
[[nodiscard]] BindingResult ReadYamlGeneral(const char* text, size_t length,
                                            uint32_t expectedNames = 0);

}  // namespace Tesk::YamlInternal
