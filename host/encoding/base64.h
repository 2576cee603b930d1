// Base64 (the standard alphabet, with padding): Basic credentials and blob
// values written as JSON.
#pragma once

#include <string>
#include <string_view>

namespace Tesk::DevHost {

[[nodiscard]] std::string Base64Encode(std::string_view bytes);
// The decoded bytes; empty when `text` holds a character outside the alphabet.
[[nodiscard]] std::string Base64Decode(std::string_view text);

}  // namespace Tesk::DevHost
