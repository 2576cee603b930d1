#include "binding/binding_sized_tree_builder.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace Tesk {

using BindingInternal::ArrayBlockBytes;
using BindingInternal::ArrayHeader;
using BindingInternal::MemberSlot;

BindingSizedTreeBuilder::BindingSizedTreeBuilder(BindingProperty& root)
    : storage_(root.EnsureStorage()) {}

ArrayHeader* BindingSizedTreeBuilder::NewBlock(uint32_t capacity, size_t itemBytes) {
  auto* items =
      static_cast<ArrayHeader*>(storage_.AllocateBlock(ArrayBlockBytes(capacity, itemBytes)));
  items->size = 0;
  items->capacity = capacity;
  return items;
}

ArrayHeader* BindingSizedTreeBuilder::Grow(ArrayHeader* items, size_t itemBytes) {
  const uint32_t size = items->size;
  if (size >= kMaxCollectionSize) throw std::length_error("vector<T> too long");
  const uint32_t capacity =
      size < kMaxCollectionSize / 2 ? (size < 4 ? 8 : size * 2) : kMaxCollectionSize;
  if (size == 0) return NewBlock(capacity, itemBytes);
  // Items hold no pointer into themselves: they move by copying their bytes.
  auto* grown = static_cast<ArrayHeader*>(storage_.ResizeBlock(
      items, ArrayBlockBytes(size, itemBytes), ArrayBlockBytes(capacity, itemBytes)));
  grown->capacity = capacity;
  return grown;
}

bool BindingSizedTreeBuilder::CloseStructure(const Container& structure, BindingProperty& target) {
  ArrayHeader* const items = structure.items;
  const uint32_t count = items->size;
  if (count != 0) {
    MemberSlot* const members = BindingInternal::MembersOf(items);
    const uint32_t* order = shapes_.OrderOf(structure.shape, members, count);
    if (order == nullptr) return false;
    uint32_t first = 0;
    while (first < count && order[first] == first) ++first;
    if (first != count) {
      // Out of order from `first` on: those members are copied aside and back.
      const size_t bytes = (count - first) * sizeof(MemberSlot);
      if (reordered_.size() < bytes) reordered_.resize(bytes);
      std::memcpy(reordered_.data(), static_cast<void*>(members + first), bytes);
      for (uint32_t i = first; i < count; ++i) {
        std::memcpy(static_cast<void*>(members + i),
                    reordered_.data() + (order[i] - first) * sizeof(MemberSlot),
                    sizeof(MemberSlot));
      }
    }
  }
  target.payload_.array = items;
  target.SetKind(BindingPropertyKind::Structure);
  return true;
}

}  // namespace Tesk
