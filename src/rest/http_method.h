// Method codes shared by routes, the host's request records and outgoing
// requests.
#pragma once

#include <cstdint>
#include <string_view>

namespace Tesk {

enum class HttpMethod : uint32_t {
  None = 0,  // a route without a method accepts every method
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Custom = 8,  // the name travels beside the code as text
};

// "DELETE" ... "PUT" for codes 1 to 7; "" for any other code.
[[nodiscard]] std::string_view HttpMethodName(HttpMethod method);

// A code from the host: 1 to 8 as they are, anything else None.
[[nodiscard]] HttpMethod HttpMethodFromCode(uint32_t code);

}  // namespace Tesk
