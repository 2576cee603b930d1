// libyaml's event parser over one input, with its current event, and the
// scalar of a scalar event: both readers of YAML take them the same way.
#pragma once

#include <yaml.h>

#include <cstddef>
#include <new>
#include <string_view>

#include "codecs/internal/yaml_scalar.h"

namespace Tesk::YamlInternal {

// The parser and its current event, released together.
class EventParser {
 public:
  // `text` may be null when `length` is 0. The encoding is UTF-8.
  EventParser(const char* text, size_t length) {
    if (yaml_parser_initialize(&parser_) == 0) throw std::bad_alloc();
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    static const unsigned char kNoText[1] = {0};
    const auto* input = text != nullptr ? reinterpret_cast<const unsigned char*>(text) : kNoText;
    yaml_parser_set_input_string(&parser_, input, text != nullptr ? length : 0);
  }
  EventParser(const EventParser&) = delete;
  EventParser& operator=(const EventParser&) = delete;
  ~EventParser() {
    yaml_event_delete(&event_);
    yaml_parser_delete(&parser_);
  }

  // Releases the current event and parses the next; false on a parser error.
  [[nodiscard]] bool Next() {
    yaml_event_delete(&event_);
    return yaml_parser_parse(&parser_, &event_) != 0;
  }
  [[nodiscard]] const yaml_event_t& event() const { return event_; }
  [[nodiscard]] const yaml_parser_t& parser() const { return parser_; }

 private:
  yaml_parser_t parser_;
  yaml_event_t event_{};  // all zero: a no-event that deleting leaves alone
};

// The scalar of a scalar event, as the typing rules take it.
[[nodiscard]] inline YamlScalar ScalarOf(const yaml_event_t& event) {
  const auto& scalar = event.data.scalar;
  return {std::string_view(reinterpret_cast<const char*>(scalar.value), scalar.length),
          reinterpret_cast<const char*>(scalar.tag),
          scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
              scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE};
}

}  // namespace Tesk::YamlInternal
