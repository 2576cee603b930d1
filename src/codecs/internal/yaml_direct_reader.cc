#include "codecs/internal/yaml_direct_reader.h"

#include <cstdint>
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
          if (documentSeen_) return false;
          documentSeen_ = true;
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
    if (event.data.scalar.anchor != nullptr) return false;
    if (!open_.empty() && open_.back() == Expect::Key) {
      const YamlScalar key = ScalarOf(event);
      if (!IsKeyTag(key.tag)) return false;
      builder_.Key(key.text);
      open_.back() = Expect::Value;
      return true;
    }
    Filled();
    return !StoreYamlScalar(ScalarOf(event), builder_.Scalar()).has_value();
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
  bool documentSeen_ = false;
};

}  // namespace

bool ReadYamlDirect(const char* text, size_t length, BindingProperty& root) {
  return DirectReader(root).Read(text, length);
}

}  // namespace Tesk::YamlInternal
