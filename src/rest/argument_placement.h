// Placing the values a request carries into a function's argument vector: a
// candidate named "filter.tags.0" fills element 0 of member "tags" of the
// parameter "filter". Checks the parameter's name and location and decodes
// the value (value_decoding.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "binding/binding_call_result.h"
#include "binding/binding_function_info.h"
#include "binding/binding_property.h"

namespace Tesk {

// The deepest dotted path and the largest index a candidate name may use:
// beyond them a request could exhaust the stack or memory.
inline constexpr uint32_t kMaxArgumentPathDepth = 512;
inline constexpr uint32_t kMaxArgumentIndex = 65535;
// The elements that the indices of one request's candidates may add in all,
// about 1 MiB of values: as many as one largest index. A short query could
// otherwise name the largest index at each of 512 levels.
inline constexpr uint32_t kMaxPlacedElements = kMaxArgumentIndex + 1;

// What is left of one request's element budget; one per request.
struct PlacementBudget {
  uint32_t elements = kMaxPlacedElements;
};

// The location of a parameter; Anywhere past the end of the function's list.
[[nodiscard]] BindingArgumentLocation ParameterLocation(const BindingFunctionInfo& function,
                                                        size_t index);

// Places one candidate into `arguments` (one per parameter of `function`).
// On failure `call.result` is failed with the message, `call`'s status is set
// for a refused value (value_decoding.h), and the arguments may be partly
// filled. `source` is where the candidate came from (Query, Path or
// Header). Elements an index adds are taken from `budget`; an index that
// would exceed it fails the placement.
void PlaceArgument(BindingCallResult& call, const BindingFunctionInfo& function,
                   std::span<BindingProperty> arguments, std::string_view name,
                   std::string_view value, BindingArgumentLocation source, PlacementBudget& budget);

}  // namespace Tesk
