// Fuzz target of the conversion of host values: the bytes describe a HostValue
// tree (any tags, repeated member names, texts with NULs, nesting past the
// limit), which converts without a crash or a sanitizer report, fails exactly
// for an unlisted tag or nesting too deep, and otherwise gives a value whose
// structures are in name order and which converts back and forth unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/host_value_conversion.h"
#include "diagnostics/sdk_allocator.h"
#include "same_value.h"

namespace {

using Tesk::BindingProperty;
using Tesk::HostValue;
using Tesk::HostValueMember;
using Tesk::HostValueTag;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "host_value_conversion_fuzz: %s\n", what);
  std::abort();
}

// Reads a HostValue tree from the fuzz bytes. Every part it points to is
// owned here and lives as long as the builder.
class TreeBuilder {
 public:
  TreeBuilder(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // `depth` counts the containers that enclose `out`.
  void Build(HostValue& out, unsigned depth) {
    std::memset(&out, 0, sizeof out);
    if (nodes_++ > kMostNodes || depth > kMostBuildDepth) return;
    const uint8_t op = Byte();
    if (op >= 0xF8) {  // a tag no host value has
      out.tag = 10u + op;
      unlisted_ = true;
      return;
    }
    switch (op % 10) {
      case 0:
        return;
      case 1:
        out.tag = static_cast<uint32_t>(HostValueTag::Bool);
        out.boolean = Byte();
        return;
      case 2:
        out.tag = static_cast<uint32_t>(HostValueTag::Signed);
        out.unsignedValue = Word();
        return;
      case 3:
        out.tag = static_cast<uint32_t>(HostValueTag::Unsigned);
        out.unsignedValue = Word();
        return;
      case 4:
        out.tag = static_cast<uint32_t>(HostValueTag::Float);
        out.unsignedValue = Word();  // any bits: NaNs and infinities too
        return;
      case 5: {
        const std::string& text = Text();
        out.tag =
            static_cast<uint32_t>(op & 0x10 ? HostValueTag::OwnedString : HostValueTag::String);
        // Null stands for the empty text as well.
        out.string.text = (op & 0x20) != 0 ? nullptr : text.c_str();
        out.string.length = static_cast<uint32_t>(text.size());
        return;
      }
      case 6: {
        const std::string& bytes = Text();
        out.tag = static_cast<uint32_t>(op & 0x10 ? HostValueTag::OwnedBlob : HostValueTag::Blob);
        out.blob.bytes = bytes.empty() ? nullptr : reinterpret_cast<const uint8_t*>(bytes.data());
        out.blob.length = static_cast<uint32_t>(bytes.size());
        return;
      }
      case 7: {
        const uint32_t count = Byte() % 8;
        out.tag = static_cast<uint32_t>(HostValueTag::Collection);
        Container(depth);
        if (count == 0) return;
        HostValue* items = Values(count);
        out.collection.items = items;
        out.collection.count = count;
        for (uint32_t i = 0; i < count; ++i) Build(items[i], depth + 1);
        return;
      }
      case 8: {
        const uint32_t count = Byte() % 8;
        out.tag = static_cast<uint32_t>(HostValueTag::Structure);
        Container(depth);
        if (count == 0) return;
        members_.push_back(std::make_unique<HostValueMember[]>(count));
        HostValueMember* members = members_.back().get();
        out.structure.members = members;
        out.structure.count = count;
        for (uint32_t i = 0; i < count; ++i) {
          // Names from a few short ones, so that repeats are common, or any text.
          const uint8_t pick = Byte();
          members[i].name = pick < 0xF0 ? kNames[pick % std::size(kNames)] : Text().c_str();
          Build(members[i].value, depth + 1);
        }
        return;
      }
      default: {
        // A chain of single-element collections, up to a few thousand levels
        // deep, around a scalar: nesting beyond the limit at little cost.
        const uint32_t levels = (uint32_t{Byte()} << 4 | Byte()) % 2048;
        if (levels != 0) Container(depth + levels - 1);
        HostValue* chain = Values(levels + 1);
        out = chain[0];
        HostValue* at = &out;
        for (uint32_t level = 0; level < levels; ++level) {
          at->tag = static_cast<uint32_t>(HostValueTag::Collection);
          at->collection.items = &chain[level + 1];
          at->collection.count = 1;
          at = &chain[level + 1];
        }
        at->tag = static_cast<uint32_t>(HostValueTag::Signed);
        at->signedValue = static_cast<int64_t>(levels);
        return;
      }
    }
  }

  // Whether a value of an unlisted tag was made, and the levels of container
  // nesting made (a container enclosed by d others is on level d + 1).
  [[nodiscard]] bool unlisted() const { return unlisted_; }
  [[nodiscard]] unsigned levels() const { return levels_; }

 private:
  static constexpr size_t kMostNodes = 20000;
  static constexpr unsigned kMostBuildDepth = 1000;
  static constexpr const char* kNames[] = {"a", "b", "c", "", "ab", "b\xFF", "z"};

  void Container(unsigned depth) {
    if (depth + 1 > levels_) levels_ = depth + 1;
  }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint64_t Word() {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | Byte();
    return word;
  }
  const std::string& Text() {
    const size_t length = Byte() % 32;
    texts_.emplace_back();
    for (size_t i = 0; i < length; ++i) texts_.back() += static_cast<char>(Byte());
    return texts_.back();
  }
  HostValue* Values(size_t count) {
    values_.push_back(std::make_unique<HostValue[]>(count));
    std::memset(values_.back().get(), 0, count * sizeof(HostValue));
    return values_.back().get();
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  size_t nodes_ = 0;
  unsigned levels_ = 0;
  bool unlisted_ = false;
  std::deque<std::string> texts_;  // never moves a text once made
  std::vector<std::unique_ptr<HostValue[]>> values_;
  std::vector<std::unique_ptr<HostValueMember[]>> members_;
};

// Whether every structure in `value` has its members in byte-wise name order,
// each name once; and the deepest container nesting.
bool NamesInOrder(const BindingProperty& value, unsigned depth, unsigned& deepest) {
  if (value.Kind() == Tesk::BindingPropertyKind::Collection ||
      value.Kind() == Tesk::BindingPropertyKind::Structure) {
    if (depth + 1 > deepest) deepest = depth + 1;
  }
  for (const BindingProperty& element : value.Elements()) {
    if (!NamesInOrder(element, depth + 1, deepest)) return false;
  }
  bool first = true;
  std::string_view previous;
  for (const auto member : value.Members()) {
    if (!first && !(previous < member.name)) return false;
    if (!NamesInOrder(member.value, depth + 1, deepest)) return false;
    previous = member.name;
    first = false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TreeBuilder builder(data, size);
  HostValue host;
  builder.Build(host, 0);
  const bool tooDeep = builder.levels() > Tesk::kMaxHostValueDepth;

  Tesk::ResponseRecord record;
  std::memset(&record, 0, sizeof record);
  const Tesk::HostValueConversion converted = Tesk::FromHostValue(host, "fuzz", &record);
  Require(converted.ok == !(builder.unlisted() || tooDeep),
          "the conversion failed without cause, or converted what it must refuse");
  if (!converted.ok) {
    Require(record.failed == 1 && record.errorText != nullptr, "a failure left no message");
    Require(converted.value.IsEmpty(), "a failed conversion kept a value");
    Tesk::Memory::Free(record.errorText);
    return 0;
  }
  Require(record.failed == 0 && record.errorText == nullptr, "a success wrote a failure");
  unsigned deepest = 0;
  Require(NamesInOrder(converted.value, 0, deepest), "members out of name order or named twice");
  Require(deepest <= Tesk::kMaxHostValueDepth, "nesting beyond the limit");

  // Back to a host value and again: the same value.
  HostValue back = Tesk::ToHostValue(converted.value, nullptr);
  const Tesk::HostValueConversion again = Tesk::FromHostValue(back, "fuzz", nullptr);
  Tesk::ReleaseHostValue(back);
  Require(again.ok && KtxFuzz::SameValue(again.value, converted.value),
          "a converted value changed on its way back and forth");
  return 0;
}
