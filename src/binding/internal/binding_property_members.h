// The members of a structure and iteration over them. Included at the end of
// binding_property.h.
#pragma once

#include <new>

#include "binding/binding_storage.h"
#include "binding/internal/binding_blocks.h"

namespace Tesk::BindingInternal {

// One member: its interned name and its value. A structure's members follow
// its ArrayHeader in ascending name order, each name once.
struct MemberSlot {
  InternedString* name;
  BindingProperty value;
};

inline MemberSlot* MembersOf(ArrayHeader* header) {
  return reinterpret_cast<MemberSlot*>(reinterpret_cast<char*>(header) + sizeof(ArrayHeader));
}
inline const MemberSlot* MembersOf(const ArrayHeader* header) {
  return reinterpret_cast<const MemberSlot*>(reinterpret_cast<const char*>(header) +
                                             sizeof(ArrayHeader));
}
inline BindingProperty* ElementsOf(ArrayHeader* header) {
  return reinterpret_cast<BindingProperty*>(reinterpret_cast<char*>(header) + sizeof(ArrayHeader));
}
inline const BindingProperty* ElementsOf(const ArrayHeader* header) {
  return reinterpret_cast<const BindingProperty*>(reinterpret_cast<const char*>(header) +
                                                  sizeof(ArrayHeader));
}

}  // namespace Tesk::BindingInternal

namespace Tesk {

inline BindingProperty& BindingProperty::Append() {
  // The common case inline: a collection with room for one more element.
  if (Kind() == BindingPropertyKind::Collection) {
    BindingInternal::ArrayHeader* header = payload_.array;
    if (header->size < header->capacity) {
      BindingProperty* element = BindingInternal::ElementsOf(header) + header->size++;
      new (element) BindingProperty();
      element->MakeChildOf(Storage());
      return *element;
    }
  }
  return GrowTo(Size());
}

inline BindingProperty& BindingProperty::Element(uint32_t index) {
  if (Kind() == BindingPropertyKind::Collection) {
    BindingInternal::ArrayHeader* header = payload_.array;
    if (index < header->size) return BindingInternal::ElementsOf(header)[index];
    if (index == header->size && index < header->capacity) {
      BindingProperty* element = BindingInternal::ElementsOf(header) + header->size++;
      new (element) BindingProperty();
      element->MakeChildOf(Storage());
      return *element;
    }
  }
  return GrowTo(index);
}

// One member seen through iteration: its name and its value.
struct BindingProperty::MemberView {
  std::string_view name;
  const BindingProperty& value;
};

class BindingProperty::MemberIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = MemberView;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = MemberView;

  MemberIterator() = default;
  explicit MemberIterator(const BindingInternal::MemberSlot* at) : at_(at) {}
  MemberView operator*() const { return {at_->name->View(), at_->value}; }
  MemberIterator& operator++() {
    ++at_;
    return *this;
  }
  MemberIterator operator++(int) {
    MemberIterator before = *this;
    ++at_;
    return before;
  }
  bool operator==(const MemberIterator& other) const { return at_ == other.at_; }

 private:
  const BindingInternal::MemberSlot* at_ = nullptr;
};

class BindingProperty::MemberRange {
 public:
  MemberRange() = default;
  explicit MemberRange(const BindingInternal::ArrayHeader* header)
      : begin_(BindingInternal::MembersOf(header)), size_(header->size) {}
  [[nodiscard]] MemberIterator begin() const { return MemberIterator(begin_); }
  [[nodiscard]] MemberIterator end() const { return MemberIterator(begin_ + size_); }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] size_t size() const { return size_; }

 private:
  const BindingInternal::MemberSlot* begin_ = nullptr;
  size_t size_ = 0;
};

}  // namespace Tesk
