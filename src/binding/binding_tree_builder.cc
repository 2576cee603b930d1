#include "binding/binding_tree_builder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "binding/internal/name_bytes.h"

namespace Tesk {

using BindingInternal::ArrayHeader;
using BindingInternal::EmptyArray;
using BindingInternal::InternedString;
using BindingInternal::MemberSlot;

BindingTreeBuilder::BindingTreeBuilder(BindingProperty& root)
    : root_(root), storage_(root.EnsureStorage()) {
  static_assert(
      sizeof(Slot) == sizeof(MemberSlot) && offsetof(Slot, value) == offsetof(MemberSlot, value),
      "a waiting value is laid out as a member");
  stack_.reserve(64);
  open_.reserve(32);
}

void BindingTreeBuilder::Key(std::string_view name) {
  // A name not taken by a value (a key the reader saw twice in a row cannot
  // happen in JSON) would only be dropped by the next one.
  Open& open = open_.back();
  pendingName_ =
      BindingInternal::MemberShapes::Name(open.shape, stack_.size() - open.base, name, storage_);
}

void BindingTreeBuilder::PushOpen(bool structure) {
  InternedString* place = pendingName_;
  if (place == nullptr && !open_.empty()) place = open_.back().place;
  BindingInternal::MemberShapes::Cursor shape{};
  if (structure) shape = shapes_.Open(place);
  open_.push_back({static_cast<uint32_t>(stack_.size()), pendingName_, place, shape});
  pendingName_ = nullptr;
}

void BindingTreeBuilder::StartCollection() { PushOpen(false); }

void BindingTreeBuilder::StartStructure() { PushOpen(true); }

void BindingTreeBuilder::PushContainer(BindingPropertyKind kind, ArrayHeader* items,
                                       InternedString* name) {
  pendingName_ = name;
  BindingProperty& value = Push();
  value.payload_.array = items;
  value.SetKind(kind);
}

BindingTreeBuilder::Open BindingTreeBuilder::Close(size_t& count) {
  const Open open = open_.back();
  open_.pop_back();
  count = stack_.size() - open.base;
  if (count > kMaxCollectionSize) throw std::length_error("vector<T> too long");
  return open;
}

void BindingTreeBuilder::EndCollection() {
  size_t count;
  const Open open = Close(count);
  ArrayHeader* items = EmptyArray();
  if (count != 0) {
    items = static_cast<ArrayHeader*>(
        storage_.AllocateBlock(sizeof(ArrayHeader) + count * sizeof(BindingProperty)));
    items->size = items->capacity = static_cast<uint32_t>(count);
    auto* elements = BindingInternal::ElementsOf(items);
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(static_cast<void*>(elements + i), stack_[open.base + i].value,
                  sizeof(BindingProperty));
    }
  }
  stack_.resize(open.base);
  PushContainer(BindingPropertyKind::Collection, items, open.name);
}

bool BindingTreeBuilder::EndStructure() {
  size_t count;
  const Open open = Close(count);
  ArrayHeader* items = EmptyArray();
  if (count != 0) {
    // Members in byte-wise name order, each name once.
    const Slot* const first = &stack_[open.base];
    const uint32_t* order = shapes_.OrderOf(open.shape, first, count);
    if (order == nullptr) return false;
    items = static_cast<ArrayHeader*>(
        storage_.AllocateBlock(sizeof(ArrayHeader) + count * sizeof(MemberSlot)));
    items->size = items->capacity = static_cast<uint32_t>(count);
    // The waiting slots are laid out as members: each is copied once, to its place.
    MemberSlot* members = BindingInternal::MembersOf(items);
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(static_cast<void*>(members + i), first + order[i], sizeof(MemberSlot));
    }
    stack_.resize(open.base);
  }
  PushContainer(BindingPropertyKind::Structure, items, open.name);
  return true;
}

void BindingTreeBuilder::Finish() {
  if (stack_.empty()) return;
  // The root owns the storage the tree was built in.
  const BindingProperty& value = ValueOf(stack_.back());
  const uintptr_t head = root_.head_;
  std::memcpy(static_cast<void*>(&root_), &value, sizeof(BindingProperty));
  root_.head_ =
      (root_.head_ & ~(BindingProperty::kStorageMask | BindingProperty::kOwnsStorageBit)) |
      (head & (BindingProperty::kStorageMask | BindingProperty::kOwnsStorageBit));
  stack_.clear();
}

}  // namespace Tesk
