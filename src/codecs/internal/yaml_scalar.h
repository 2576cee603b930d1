// Scalar typing of the YAML reader: the kind and value a scalar in value
// position takes, from its tag, its quoting and its text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Tesk::YamlInternal {

struct YamlScalar {
  // The scalar's bytes; text.data()[text.size()] must be a readable NUL, as in
  // libyaml's events.
  std::string_view text;
  // The resolved tag ("tag:yaml.org,2002:int"), or null when the scalar has none.
  const char* tag = nullptr;
  // Single- or double-quoted.
  bool quoted = false;
};

inline constexpr std::string_view kYamlStringTag = "tag:yaml.org,2002:str";

// Whether a scalar with this tag (null: none) may be a mapping key: keys are
// never typed, so only the string tag is allowed on them.
[[nodiscard]] inline bool IsKeyTag(const char* tag) {
  return tag == nullptr || std::string_view(tag) == kYamlStringTag;
}

// Gives `target` the scalar's value. Returns the failure message (an
// unsupported tag, or a tagged text that is not of its tag's type); nothing
// when the value was stored.
[[nodiscard]] std::optional<std::string> StoreYamlScalar(const YamlScalar& scalar,
                                                         BindingProperty& target);

}  // namespace Tesk::YamlInternal
