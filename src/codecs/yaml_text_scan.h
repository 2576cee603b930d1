// Questions about a YAML text that its value cannot answer once read.
#pragma once

#include <string_view>

namespace Tesk {

// Whether a scalar of `text` (a key or a value) holds a NUL character, which
// only a double-quoted scalar's escape ("\0", "\x00", "\u0000") can write.
// Stored strings end at their first NUL, so such a scalar would be read as
// another, shorter text. False for a text that does not parse; meant for a
// text that ParseYaml accepted (whose nesting is therefore bounded).
[[nodiscard]] bool YamlScalarHoldsNul(std::string_view text);

}  // namespace Tesk
