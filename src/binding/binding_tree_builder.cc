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
using BindingInternal::NameLess;

namespace {}  // namespace

bool BindingTreeBuilder::NameBefore(const Slot& a, const Slot& b) {
  return NameLess::Compare(a.name->View(), b.name->View()) < 0;
}

BindingTreeBuilder::BindingTreeBuilder(BindingProperty& root)
    : root_(root), storage_(root.EnsureStorage()) {
  static_assert(
      sizeof(Slot) == sizeof(MemberSlot) && offsetof(Slot, value) == offsetof(MemberSlot, value),
      "a waiting value is laid out as a member");
  stack_.reserve(64);
  open_.reserve(32);
}

BindingProperty& BindingTreeBuilder::Push() {
  Slot& slot = stack_.emplace_back();
  slot.name = pendingName_;
  pendingName_ = nullptr;
  BindingProperty* value = new (slot.value) BindingProperty();
  value->MakeChildOf(&storage_);
  return *value;
}

void BindingTreeBuilder::Key(std::string_view name) {
  // A name not taken by a value (a key the reader saw twice in a row cannot
  // happen in JSON or MessagePack) would only be dropped by the next one.
  pendingName_ = storage_.InternName(BindingInternal::CutAtNul(name));
}

void BindingTreeBuilder::StartCollection() {
  open_.push_back({static_cast<uint32_t>(stack_.size()), pendingName_});
  pendingName_ = nullptr;
}

void BindingTreeBuilder::StartStructure() {
  open_.push_back({static_cast<uint32_t>(stack_.size()), pendingName_});
  pendingName_ = nullptr;
}

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
    // Members in byte-wise name order, each name once. Documents often list
    // their names in order already: check before sorting. The waiting slots
    // are plain bytes, so they are sorted where they wait.
    Slot* const first = &stack_[open.base];
    Slot* const last = first + count;
    bool sorted = true;
    for (const Slot* at = first + 1; at != last && sorted; ++at) sorted = NameBefore(at[-1], *at);
    if (!sorted) {
      std::sort(first, last, NameBefore);
      for (const Slot* at = first + 1; at != last; ++at) {
        if (!NameBefore(at[-1], *at)) return false;
      }
    }
    items = static_cast<ArrayHeader*>(
        storage_.AllocateBlock(sizeof(ArrayHeader) + count * sizeof(MemberSlot)));
    items->size = items->capacity = static_cast<uint32_t>(count);
    std::memcpy(static_cast<void*>(BindingInternal::MembersOf(items)), first,
                count * sizeof(MemberSlot));
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
