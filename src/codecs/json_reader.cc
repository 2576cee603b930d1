#include <algorithm>
#include <cstdio>
#include <vector>

#include "binding/binding_merging_builder.h"
#include "binding/binding_storage.h"
#include "binding/binding_tree_builder.h"
#include "codecs/internal/json_tokenizer.h"
#include "codecs/internal/scratch_buffer.h"
#include "codecs/json.h"

namespace Tesk {
namespace {

// Builds the tree top-down by name, for a document that names a
// member twice: a repeated name addresses the same member, a later scalar
// replaces it, a later object adds to an earlier object and a later array
// appends to an earlier array. `target_` is the value the next scalar or
// container goes into; `open_` the containers not yet closed.
class MergingSink {
 public:
  MergingSink(BindingProperty& root, uint32_t expectedNames) : target_(&root) {
    open_.reserve(32);
    structures_.ExpectNames(expectedNames);
  }
  void Empty() { NextValue(); }
  void Bool(bool value) { NextValue()->SetBool(value); }
  void Signed(int64_t value) { NextValue()->SetSigned(value); }
  void Unsigned(uint64_t value) { NextValue()->SetUnsigned(value); }
  void Float(double value) { NextValue()->SetFloat(value); }
  void String(std::string_view text) { NextValue()->SetString(text); }
  void Key(std::string_view name) { target_ = &structures_.Member(name); }
  void StartCollection() {
    BindingProperty* value = NextValue();
    value->MakeCollection();
    open_.push_back(value);
  }
  void EndCollection() { open_.pop_back(); }
  void StartStructure() {
    BindingProperty* value = NextValue();
    structures_.Begin(*value);
    open_.push_back(value);
  }
  bool EndStructure() {
    structures_.End();
    open_.pop_back();
    return true;
  }
  void Finish() {}

 private:
  // Inside an array every value is a new element; elsewhere it goes to the
  // current target (the root, or the member a key selected).
  BindingProperty* NextValue() {
    if (!open_.empty() && open_.back()->Kind() == BindingPropertyKind::Collection) {
      target_ = &open_.back()->Append();
    }
    return target_;
  }

  BindingProperty* target_;
  std::vector<BindingProperty*> open_;
  BindingMergingBuilder structures_;
};

void FailWithReport(BindingResult& result, const char* text, size_t offset) {
  char message[160];
  std::snprintf(message, sizeof message, "Error: %s at offset %u.", text,
                static_cast<unsigned>(offset));
  result.Fail(message);
}

// Reads the `length` bytes at `input`, none of them a NUL, with a Sink made
// from the result's value and `extra`. Sets `repeatedName` (and leaves the
// result to be discarded) when the sink cannot build an object that names a
// member twice.
template <class Sink, class... Extra>
BindingResult ParseWith(const char* input, size_t length, bool& repeatedName,
                        const Extra&... extra) {
  BindingResult result;
  // Strings are unescaped in place, in a copy.
  ScratchText text(std::string_view(input, length), kJsonTokenizerPadding);
  Sink sink(result.value, extra...);
  const JsonReadOutcome outcome = JsonTokenizer<Sink, kMaxJsonDepth>(text.data(), sink).Read();
  if (outcome.error == JsonSyntaxError::None) {
    sink.Finish();
    return result;
  }
  if (outcome.error == JsonSyntaxError::Stopped) {
    repeatedName = true;
    return result;
  }
  FailWithReport(result, JsonSyntaxErrorText(outcome.error), outcome.offset);
  return result;
}

BindingResult ParseBytes(const char* input, size_t length) {
  bool repeatedName = false;
  // The usual way: bottom-up, through BindingTreeBuilder.
  BindingResult result = ParseWith<BindingTreeBuilder>(input, length, repeatedName);
  if (!repeatedName) return result;
  // Rare: a name given twice in one object. Read again, merging as it goes.
  // The first read stopped at that object's end, so any error lies after it
  // and the second read reports it at the same offset. The names it interned
  // are those the second read meets first.
  const BindingStorage* first = result.value.Storage();
  const uint32_t names = first != nullptr ? first->InternedCount() : 0;
  result = BindingResult();
  return ParseWith<MergingSink>(input, length, repeatedName, names);
}

}  // namespace

BindingResult ParseJson(std::string_view text) {
  return ParseBytes(text.data(), std::min(text.size(), text.find('\0')));
}

BindingResult ParseJson(const std::string& text) {
  return ParseBytes(text.c_str(), std::char_traits<char>::length(text.c_str()));
}

BindingResult ParseJson(const char* text) {
  if (text == nullptr) text = "";
  return ParseBytes(text, std::char_traits<char>::length(text));
}

}  // namespace Tesk
