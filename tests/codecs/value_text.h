// One text of a BindingProperty for the codec tests' tables, so that a whole
// value is compared in one assertion with every kind told apart.
#pragma once

#include <string>

#include "binding/binding_property.h"

namespace Tesk::Testing {

// The styles differ in empty values, separators and member names only. Both
// write true, -1 (signed), 1u (unsigned), 2.5 and 3.0 (float: the shortest
// text that reads back the same, always with a point or an exponent; nan, inf,
// -inf), "text" (with ", \ and every byte outside 0x20-0x7E escaped as \",
// \\ and \xNN), <0a1b> (blob bytes in hex) and enum(3). Members come in the
// structure's own order.
enum class ValueTextStyle {
  Compact,   // null, [a,b], {"name":a}
  YamlFlow,  // ~, [a, b], {name: a, "two words": b}: names bare when plain words
};

[[nodiscard]] std::string ValueText(const BindingProperty& value,
                                    ValueTextStyle style = ValueTextStyle::Compact);

}  // namespace Tesk::Testing
