// Compact text of a BindingProperty for codec tests, so that a whole value is
// compared in one assertion with every kind told apart.
#pragma once

#include <string>

#include "binding/binding_property.h"

namespace Tesk::Testing {

// null, true, -1 (signed), 1u (unsigned), 1.5 and 3.0 (float: always with a
// point or exponent), "text" (", \ and bytes outside 0x20-0x7E escaped as
// \" \\ \xNN), <0a1b> (blob bytes in hex), enum(3), [a,b], {"name":a}.
// Members come in the structure's own order.
[[nodiscard]] std::string BindingText(const BindingProperty& value);

}  // namespace Tesk::Testing
