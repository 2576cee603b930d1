#include "codecs/yaml_reader.h"

#include <yaml.h>

#include <cstdint>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_merging_builder.h"
#include "binding/binding_storage.h"
#include "codecs/internal/yaml_direct_reader.h"
#include "codecs/internal/yaml_event_parser.h"
#include "codecs/internal/yaml_general_reader.h"
#include "codecs/internal/yaml_messages.h"
#include "codecs/internal/yaml_scalar.h"
#include "diagnostics/format.h"

namespace Tesk {

namespace {

using YamlInternal::EventParser;
using YamlInternal::IsKeyTag;
using YamlInternal::ScalarOf;
using YamlInternal::StoreYamlScalar;
using YamlInternal::Text;
using YamlInternal::YamlMessage;
using YamlInternal::YamlScalar;
using Kind = BindingPropertyKind;

constexpr uint32_t kNoPath = UINT32_MAX;

// One step from a node to its child: a member name or an element index.
struct Step {
  bool member = false;
  uint32_t index = 0;
  std::string name;
};

// Builds the value of one document from the parser's events.
class YamlReader {
 public:
  [[nodiscard]] BindingResult Read(const char* text, size_t length, uint32_t expectedNames);

 private:
  // Where an anchor points: a node by its path from the root, or the text of
  // an anchored mapping key.
  struct Anchor {
    bool isKey = false;
    bool open = false;        // a sequence or mapping that is still being filled
    uint32_t path = kNoPath;  // index in paths_
    std::string keyText;
  };
  // A node being filled, from the root down to the current node.
  struct OpenNode {
    BindingProperty* node = nullptr;
    Step step;                     // from the parent; unused for the root
    uint32_t path = kNoPath;       // the node's entry in paths_, once an anchor needed one
    Anchor* openAnchor = nullptr;  // the anchor of this open sequence or mapping
    bool mapping = false;          // a mapping open in structures_
  };
  // The paths of anchored nodes, sharing their prefixes: the root has no parent.
  struct PathNode {
    uint32_t parent;
    Step step;
  };
  // What an alias copy adds to the document.
  struct CopyCost {
    size_t nodes = 0;
    size_t text = 0;
  };

  void Handle(const yaml_event_t& event);
  void HandleScalar(const yaml_event_t& event, bool keyPosition);
  void HandleStart(const yaml_event_t& event, bool keyPosition);
  void HandleAlias(const yaml_event_t& event, bool keyPosition);

  void PushRoot();
  OpenNode& Push(BindingProperty& node);
  void Pop();
  [[nodiscard]] OpenNode& Top() { return stack_[depth_ - 1]; }

  [[nodiscard]] uint32_t CurrentPath();
  // Null (and the read failed) when the name is taken.
  Anchor* RegisterNodeAnchor(const char* name, const yaml_mark_t& mark);
  void RegisterKeyAnchor(const char* name, std::string_view key, const yaml_mark_t& mark);
  [[nodiscard]] bool Charge(const CopyCost& cost, const yaml_mark_t& mark);
  [[nodiscard]] size_t Measure(const BindingProperty& node, size_t heightLimit,
                               CopyCost& cost) const;

  void Fail(YamlMessage message, const yaml_mark_t& mark);
  void Fail(YamlMessage message, std::string_view name, const yaml_mark_t& mark);

  BindingResult result_;
  BindingProperty root_;
  std::vector<OpenNode> stack_;  // entries past depth_ are kept for reuse
  size_t depth_ = 0;
  std::vector<PathNode> paths_;
  std::vector<uint32_t> walk_;  // scratch for resolving a path
  std::unordered_map<std::string, Anchor> anchors_;
  // A key is pending by its flag, never by its text being non-empty: the empty
  // key is the member "" like any other. Taking an empty key for no key would
  // read its value as the next key and pair every later key with the wrong
  // value, so the reader deliberately differs from that rule.
  std::string pendingKey_;
  bool hasPendingKey_ = false;
  CopyCost copied_;  // by all alias copies of the document so far
  // The mappings being filled: members in the order their keys come, sorted
  // when the mapping ends.
  BindingMergingBuilder structures_;
  YamlAliasBudget budget_{};
};

size_t Line(const yaml_mark_t& mark) { return mark.line + 1; }
size_t Column(const yaml_mark_t& mark) { return mark.column + 1; }

BindingResult YamlReader::Read(const char* text, size_t length, uint32_t expectedNames) {
  budget_ = YamlAliasBudgetFor(length);
  structures_.ExpectNames(expectedNames);
  EventParser parser(text, length);
  bool parsed = parser.Next();
  while (parsed && parser.event().type != YAML_STREAM_END_EVENT && result_.ok) {
    Handle(parser.event());
    if (result_.ok) parsed = parser.Next();
  }
  if (!result_.ok) return std::move(result_);
  if (!parsed) {
    const yaml_parser_t& state = parser.parser();
    if (state.error == YAML_MEMORY_ERROR) throw std::bad_alloc();
    result_.Fail(Format(Text(YamlMessage::ParserError),
                        state.problem != nullptr ? state.problem : "unknown problem",
                        state.problem_mark.line, state.problem_mark.column));
    return std::move(result_);
  }
  result_.value = std::move(root_);
  return std::move(result_);
}

void YamlReader::Handle(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_NO_EVENT:
    case YAML_STREAM_START_EVENT:
    case YAML_STREAM_END_EVENT:
    case YAML_DOCUMENT_END_EVENT:
      return;
    case YAML_DOCUMENT_START_EVENT:
      if (!root_.IsEmpty()) {
        result_.Fail(Text(YamlMessage::MultiDocument));
        return;
      }
      PushRoot();
      return;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      hasPendingKey_ = false;  // a key belongs to the mapping it was read in
      if (depth_ > 0) Pop();
      return;
    case YAML_ALIAS_EVENT:
    case YAML_SCALAR_EVENT:
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
      break;
  }

  // Descend from the open node into the node this event fills. An open
  // mapping without a pending key awaits a key: the event is in key position.
  // A node reached through a key given twice may already be a mapping; it is
  // then in value position all the same.
  if (depth_ == 0) PushRoot();
  BindingProperty& open = *Top().node;
  bool keyPosition = false;
  if (open.Kind() == Kind::Collection) {
    const uint32_t index = open.Size();
    OpenNode& element = Push(open.Append());
    element.step.member = false;
    element.step.index = index;
  } else if (open.Kind() == Kind::Structure) {
    if (hasPendingKey_) {
      hasPendingKey_ = false;
      OpenNode& member = Push(structures_.Member(pendingKey_));
      member.step.member = true;
      // The key is not needed any more: the step takes its text, and the key
      // the step's old buffer (both are reused from node to node).
      member.step.name.swap(pendingKey_);
    } else {
      keyPosition = true;
    }
  }

  switch (event.type) {
    case YAML_SCALAR_EVENT:
      HandleScalar(event, keyPosition);
      return;
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
      HandleStart(event, keyPosition);
      return;
    case YAML_ALIAS_EVENT:
      HandleAlias(event, keyPosition);
      return;
    case YAML_NO_EVENT:
    case YAML_STREAM_START_EVENT:
    case YAML_STREAM_END_EVENT:
    case YAML_DOCUMENT_START_EVENT:
    case YAML_DOCUMENT_END_EVENT:
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      return;
  }
}

void YamlReader::HandleScalar(const yaml_event_t& event, bool keyPosition) {
  const YamlScalar scalar = ScalarOf(event);
  const char* anchor = reinterpret_cast<const char*>(event.data.scalar.anchor);
  if (keyPosition) {
    if (!IsKeyTag(scalar.tag)) {
      Fail(YamlMessage::InvalidMappingKey, event.start_mark);
      return;
    }
    pendingKey_.assign(scalar.text);
    hasPendingKey_ = true;
    if (anchor != nullptr) RegisterKeyAnchor(anchor, scalar.text, event.start_mark);
    return;
  }
  if (auto failure = StoreYamlScalar(scalar, *Top().node)) {
    result_.Fail(*failure);
    return;
  }
  if (anchor != nullptr && RegisterNodeAnchor(anchor, event.start_mark) == nullptr) return;
  Pop();
}

void YamlReader::HandleStart(const yaml_event_t& event, bool keyPosition) {
  const bool sequence = event.type == YAML_SEQUENCE_START_EVENT;
  if (keyPosition) {
    Fail(sequence ? YamlMessage::SequenceAsKey : YamlMessage::MappingAsKey, event.start_mark);
    return;
  }
  // The open nodes above this one are its enclosing sequences and mappings.
  if (depth_ > kYamlMaxNesting) {
    Fail(YamlMessage::NestingTooDeep, event.start_mark);
    return;
  }
  // A key given twice: a later sequence appends to an earlier one, a later
  // mapping adds to an earlier one; any other earlier value is replaced.
  BindingProperty& node = *Top().node;
  const yaml_char_t* anchor;
  if (sequence) {
    node.MakeCollection();
    anchor = event.data.sequence_start.anchor;
  } else {
    structures_.Begin(node);
    Top().mapping = true;
    anchor = event.data.mapping_start.anchor;
  }
  if (anchor == nullptr) return;
  Anchor* registered = RegisterNodeAnchor(reinterpret_cast<const char*>(anchor), event.start_mark);
  if (registered == nullptr) return;
  registered->open = true;
  Top().openAnchor = registered;
}

void YamlReader::HandleAlias(const yaml_event_t& event, bool keyPosition) {
  const char* name = reinterpret_cast<const char*>(event.data.alias.anchor);
  const yaml_mark_t& mark = event.start_mark;
  const auto found = anchors_.find(name);
  if (found != anchors_.end() && found->second.open) {
    Fail(YamlMessage::CyclicAlias, name, mark);
    return;
  }
  if (found == anchors_.end()) {
    Fail(YamlMessage::UndefinedAlias, name, mark);
    return;
  }
  const Anchor& anchor = found->second;

  if (anchor.isKey) {
    if (!Charge(CopyCost{1, anchor.keyText.size()}, mark)) return;
    if (keyPosition) {
      pendingKey_.assign(anchor.keyText);
      hasPendingKey_ = true;
      return;
    }
    Top().node->SetString(anchor.keyText);
    Pop();
    return;
  }

  // Walk the anchored node's path from the root. The node found is still open
  // when each node on the way is the open node of the same level.
  walk_.clear();
  for (uint32_t at = anchor.path; paths_[at].parent != kNoPath; at = paths_[at].parent) {
    walk_.push_back(at);
  }
  if (!Charge(CopyCost{walk_.size(), 0}, mark)) return;
  const BindingProperty* source = &root_;
  size_t level = 0;
  bool onOpenPath = stack_[0].node == source;
  for (auto step = walk_.rbegin(); step != walk_.rend(); ++step) {
    const Step& to = paths_[*step].step;
    source = to.member ? &structures_.Find(*source, to.name) : &source->At(to.index);
    ++level;
    onOpenPath = onOpenPath && level < depth_ && stack_[level].node == source;
  }
  if (onOpenPath && level + 1 < depth_) {
    // An enclosing node, re-entered through a key given twice.
    Fail(YamlMessage::CyclicAlias, name, mark);
    return;
  }

  if (keyPosition) {
    if (source->Kind() != Kind::String) {
      Fail(YamlMessage::InvalidMappingKey, mark);
      return;
    }
    if (!Charge(CopyCost{1, source->Size()}, mark)) return;
    pendingKey_.assign(source->GetString());
    hasPendingKey_ = true;
    return;
  }

  // The copy may reach as deep as the open sequences and mappings above it allow.
  CopyCost cost;
  const size_t heightLimit = kYamlMaxNesting - (depth_ - 1);
  const size_t height = Measure(*source, heightLimit, cost);
  if (!Charge(cost, mark)) return;
  if (height > heightLimit) {
    Fail(YamlMessage::NestingTooDeep, mark);
    return;
  }
  // Copy assignment detaches the source first, so it may lie inside the target.
  *Top().node = *source;
  Pop();
}

void YamlReader::PushRoot() {
  depth_ = 0;
  hasPendingKey_ = false;
  Push(root_);
}

YamlReader::OpenNode& YamlReader::Push(BindingProperty& node) {
  if (depth_ == stack_.size()) stack_.emplace_back();
  OpenNode& entry = stack_[depth_++];
  entry.node = &node;
  entry.path = kNoPath;
  entry.openAnchor = nullptr;
  entry.mapping = false;
  return entry;
}

void YamlReader::Pop() {
  OpenNode& entry = stack_[--depth_];
  if (entry.mapping) {
    structures_.End();
    entry.mapping = false;
  }
  if (entry.openAnchor != nullptr) {
    entry.openAnchor->open = false;
    entry.openAnchor = nullptr;
  }
}

uint32_t YamlReader::CurrentPath() {
  // Entries that have a path form a prefix of the stack.
  size_t first = depth_;
  while (first > 0 && stack_[first - 1].path == kNoPath) --first;
  for (size_t i = first; i < depth_; ++i) {
    const uint32_t parent = i == 0 ? kNoPath : stack_[i - 1].path;
    paths_.push_back(PathNode{parent, stack_[i].step});
    stack_[i].path = static_cast<uint32_t>(paths_.size() - 1);
  }
  return Top().path;
}

YamlReader::Anchor* YamlReader::RegisterNodeAnchor(const char* name, const yaml_mark_t& mark) {
  const auto [at, inserted] = anchors_.try_emplace(name);
  if (!inserted) {
    Fail(YamlMessage::DuplicateAnchor, name, mark);
    return nullptr;
  }
  at->second.path = CurrentPath();
  return &at->second;
}

void YamlReader::RegisterKeyAnchor(const char* name, std::string_view key,
                                   const yaml_mark_t& mark) {
  const auto [at, inserted] = anchors_.try_emplace(name);
  if (!inserted) {
    Fail(YamlMessage::DuplicateAnchor, name, mark);
    return;
  }
  at->second.isKey = true;
  at->second.keyText.assign(key);
}

bool YamlReader::Charge(const CopyCost& cost, const yaml_mark_t& mark) {
  copied_.nodes += cost.nodes;
  copied_.text += cost.text;
  if (copied_.nodes > budget_.nodes) {
    Fail(YamlMessage::AliasNodesExceeded, mark);
    return false;
  }
  if (copied_.text > budget_.text) {
    Fail(YamlMessage::AliasTextExceeded, mark);
    return false;
  }
  return true;
}

// Adds the nodes and text of `node` to `cost` and returns its height in
// sequences and mappings. Stops early, with a partial count, once the count
// passes what the budgets leave or the height passes `heightLimit`; the
// recursion therefore never goes deeper than heightLimit + 1.
size_t YamlReader::Measure(const BindingProperty& node, size_t heightLimit, CopyCost& cost) const {
  const auto overBudget = [&] {
    return copied_.nodes + cost.nodes > budget_.nodes || copied_.text + cost.text > budget_.text;
  };
  ++cost.nodes;
  switch (node.Kind()) {
    case Kind::Empty:
    case Kind::Bool:
    case Kind::Signed:
    case Kind::Unsigned:
    case Kind::Float:
    case Kind::Enum:
      return 0;
    case Kind::String:
    case Kind::Blob:
      cost.text += node.Size();
      return 0;
    case Kind::Collection:
    case Kind::Structure:
      break;
  }
  if (heightLimit == 0) return 1;
  size_t height = 0;
  const auto visit = [&](const BindingProperty& child) {
    const size_t childHeight = Measure(child, heightLimit - 1, cost);
    if (childHeight > height) height = childHeight;
    return childHeight < heightLimit && !overBudget();
  };
  if (node.Kind() == Kind::Collection) {
    for (const BindingProperty& element : node.Elements()) {
      if (!visit(element)) break;
    }
  } else {
    for (const auto member : node.Members()) {
      cost.text += member.name.size();
      if (!visit(member.value)) break;
    }
  }
  return height + 1;
}

void YamlReader::Fail(YamlMessage message, const yaml_mark_t& mark) {
  result_.Fail(Format(Text(message), Line(mark), Column(mark)));
}

void YamlReader::Fail(YamlMessage message, std::string_view name, const yaml_mark_t& mark) {
  result_.Fail(Format(Text(message), name, Line(mark), Column(mark)));
}

}  // namespace

BindingResult ParseYaml(const char* text, size_t length) {
  uint32_t names = 0;
  {
    BindingResult result;
    if (YamlInternal::ReadYamlDirect(text, length, result.value)) return result;
    if (const BindingStorage* first = result.value.Storage()) names = first->InternedCount();
  }
  // Anchors, aliases, a key given twice, a second document or a failure:
  // read again from the start, applying every rule.
  return YamlInternal::ReadYamlGeneral(text, length, names);
}

BindingResult YamlInternal::ReadYamlGeneral(const char* text, size_t length,
                                            uint32_t expectedNames) {
  YamlReader reader;
  return reader.Read(text, length, expectedNames);
}

}  // namespace Tesk
