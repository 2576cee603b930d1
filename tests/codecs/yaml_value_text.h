// A compact text form of a BindingProperty for test expectations, in which
// every kind is told apart: ~ (empty), true, -1 (signed), 1u (unsigned),
// 2.5 or 1.0 (float), "x" (string), [..] (collection), {name: ..} (structure).
#pragma once

#include <string>

#include "binding/binding_property.h"

namespace Tesk::Testing {

[[nodiscard]] std::string YamlValueText(const BindingProperty& value);

}  // namespace Tesk::Testing
