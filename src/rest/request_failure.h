// RequestFailure: what an outgoing request to the host reports when it fails,
// shared with the rest of the plug-in (telemetry, observers, the feature).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/named_template.h"

namespace Tesk {

struct RequestFailure {
  uint32_t errorCode = 0;  // 0 when the failure has no code
  std::string message;     // the filled template
  // The values that filled the named placeholders, plus "errorCode_int" when
  // errorCode is not 0.
  NamedFields fields;
};

// Fills `templateText` ("Error response for {method} {url}: {error}") with
// `args` in placeholder order and records them under their names.
[[nodiscard]] RequestFailure MakeRequestFailure(uint32_t errorCode, std::string_view templateText,
                                                std::span<const FormatArgument> args);
[[nodiscard]] inline RequestFailure MakeRequestFailure(uint32_t errorCode,
                                                       std::string_view templateText,
                                                       std::initializer_list<FormatArgument> args) {
  return MakeRequestFailure(errorCode, templateText,
                            std::span<const FormatArgument>(args.begin(), args.size()));
}

}  // namespace Tesk
