#include "codecs/internal/yaml_direct_reader.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/binding_tree_builder.h"
#include "codecs/internal/yaml_event_parser.h"
#include "codecs/internal/yaml_scalar.h"
#include "codecs/yaml_reader.h"

namespace Tesk::YamlInternal {

namespace {

// What the innermost open container expects next.
enum class Expect : uint8_t {
  Element,  // a sequence: any node
  Key,      // a mapping: a key
  Value,    // a mapping: the value of the key just read
};

constexpr std::string_view kStringTag = "tag:yaml.org,2002:str";

class DirectReader {
 public:
  explicit DirectReader(BindingProperty& root) : builder_(root) { open_.reserve(32); }

  // False when the document needs the general reader.
  bool Read(const char* text, size_t length) {
    EventParser parser(text, length);
    while (parser.Next()) {
      const yaml_event_t& event = parser.event();
      switch (event.type) {
        case YAML_STREAM_END_EVENT:
          builder_.Finish();
          return true;
        case YAML_NO_EVENT:
        case YAML_STREAM_START_EVENT:
        case YAML_DOCUMENT_END_EVENT:
          break;
        case YAML_DOCUMENT_START_EVENT:
          if (documents_++ != 0) return false;
          break;
        case YAML_SCALAR_EVENT:
          if (!Scalar(event)) return false;
          break;
        case YAML_SEQUENCE_START_EVENT:
          if (event.data.sequence_start.anchor != nullptr || !Open(Expect::Element)) return false;
          builder_.StartCollection();
          break;
        case YAML_MAPPING_START_EVENT:
          if (event.data.mapping_start.anchor != nullptr || !Open(Expect::Key)) return false;
          builder_.StartStructure();
          break;
        case YAML_SEQUENCE_END_EVENT:
          open_.pop_back();
          builder_.EndCollection();
          break;
        case YAML_MAPPING_END_EVENT:
          open_.pop_back();
          if (!builder_.EndStructure()) return false;
          break;
        case YAML_ALIAS_EVENT:
          return false;
      }
    }
    return false;  // a parser error
  }

 private:
  bool Scalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    if (scalar.anchor != nullptr) return false;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    const char* tag = reinterpret_cast<const char*>(scalar.tag);
    if (!open_.empty() && open_.back() == Expect::Key) {
      // Keys are never typed: only the string tag is allowed on them.
      if (tag != nullptr && std::string_view(tag) != kStringTag) return false;
      builder_.Key(text);
      open_.back() = Expect::Value;
      return true;
    }
    Filled();
    const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                        scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    return !StoreYamlScalar(YamlScalar{text, tag, quoted}, builder_.Scalar()).has_value();
  }

  // A sequence or mapping starts: not as a key, and no deeper than the
  // general reader allows (the open containers and this one).
  bool Open(Expect first) {
    if (!open_.empty() && open_.back() == Expect::Key) return false;
    if (open_.size() + 1 > kYamlMaxNesting) return false;
    Filled();
    open_.push_back(first);
    return true;
  }

  // A node fills the value of the key just read: the mapping expects a key next.
  void Filled() {
    if (!open_.empty() && open_.back() == Expect::Value) open_.back() = Expect::Key;
  }

  BindingTreeBuilder builder_;
  std::vector<Expect> open_;
  size_t documents_ = 0;
};

}  // namespace

bool ReadYamlDirect(const char* text, size_t length, BindingProperty& root) {
  return DirectReader(root).Read(text, length);
}

}  // namespace Tesk::YamlInternal
