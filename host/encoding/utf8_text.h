// UTF-8 checks for the text the host writes to its clients: JSON strings and
// WebSocket text frames must be valid UTF-8, whatever bytes a resource or the
// plug-in handed over.
#pragma once

#include <string>
#include <string_view>

namespace Tesk::DevHost {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
[[nodiscard]] bool IsValidUtf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD, one replacement
// per maximal ill-formed subpart (as the Unicode standard recommends); valid
// text comes back unchanged. JSON text stays JSON: outside strings it is ASCII.
[[nodiscard]] std::string ValidUtf8(std::string_view text);

}  // namespace Tesk::DevHost
