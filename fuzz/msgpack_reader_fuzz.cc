// Fuzz target of the MessagePack reader: any bytes read without a crash, a
// sanitizer report or a broken result contract.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "codecs/msgpack_reader.h"
#include "same_value.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "msgpack_reader_fuzz: %s\n", what);
  std::abort();
}

// Containers nested in `value`, counting `value` itself; stops early past the limit.
unsigned Depth(const Tesk::BindingProperty& value) {
  unsigned deepest = 0;
  if (value.Kind() == Tesk::BindingPropertyKind::Collection) {
    for (const Tesk::BindingProperty& element : value.Elements()) {
      const unsigned depth = Depth(element);
      if (depth > deepest) deepest = depth;
    }
  } else if (value.Kind() == Tesk::BindingPropertyKind::Structure) {
    for (const auto member : value.Members()) {
      const unsigned depth = Depth(member.value);
      if (depth > deepest) deepest = depth;
    }
  } else {
    return 0;
  }
  return deepest + 1;
}

// Whether every structure in `value` has its members in byte-wise name order,
// each name once: what lookups by name rely on.
bool NamesInOrder(const Tesk::BindingProperty& value) {
  if (value.Kind() == Tesk::BindingPropertyKind::Collection) {
    for (const Tesk::BindingProperty& element : value.Elements()) {
      if (!NamesInOrder(element)) return false;
    }
  } else if (value.Kind() == Tesk::BindingPropertyKind::Structure) {
    bool first = true;
    std::string_view previous;
    for (const auto member : value.Members()) {
      if (!first && !(previous < member.name)) return false;
      if (!NamesInOrder(member.value)) return false;
      previous = member.name;
      first = false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Tesk::MessagePackReadResult read = Tesk::ReadMessagePack(data, size);
  Require(read.position <= size, "the position is past the input");
  if (size > 0) {
    (void)Tesk::LooksLikeMessagePack(data, size);
  }
  if (!read.result.ok) {
    const Tesk::BindingProperty& value = read.result.value;
    Require(value.Kind() == Tesk::BindingPropertyKind::Structure && value.Size() == 1,
            "a failed result holds more than its error");
    Require(read.result.ErrorText().starts_with("Invalid MessagePack data"),
            "a failed result has no error text");
    return 0;
  }
  if (size == 0) {
    Require(read.position == 0 && read.result.value.IsEmpty(), "empty input read as a value");
    return 0;
  }
  Require(read.position > 0, "a value was read from no bytes");
  Require(Depth(read.result.value) <= Tesk::kMaxMessagePackDepth, "nesting beyond the limit");
  Require(NamesInOrder(read.result.value), "members out of name order or named twice");
  if (read.position < size) {
    // The root ended before the input did: bytes after it change nothing.
    const Tesk::MessagePackReadResult prefix = Tesk::ReadMessagePack(data, read.position);
    Require(prefix.result.ok && prefix.position == read.position &&
                KtxFuzz::SameValue(prefix.result.value, read.result.value),
            "the bytes after a complete root changed the value");
  }
  return 0;
}
