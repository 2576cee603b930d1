#include "codecs/yaml_text_scan.h"

#include <cstring>

#include "codecs/internal/yaml_event_parser.h"

namespace Tesk {

bool YamlScalarHoldsNul(std::string_view text) {
  YamlInternal::EventParser parser(text.data(), text.size());
  while (parser.Next()) {
    const yaml_event_t& event = parser.event();
    if (event.type == YAML_STREAM_END_EVENT) return false;
    if (event.type != YAML_SCALAR_EVENT) continue;
    const auto& scalar = event.data.scalar;
    if (scalar.length > 0 && std::memchr(scalar.value, '\0', scalar.length) != nullptr) return true;
  }
  return false;
}

}  // namespace Tesk
