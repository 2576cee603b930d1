#include "binding/binding_merging_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "binding/binding_storage.h"
#include "binding/internal/name_bytes.h"

namespace Tesk {

using BindingInternal::ArrayHeader;
using BindingInternal::InternedString;
using BindingInternal::MemberSlot;
using BindingInternal::MembersOf;
using BindingInternal::NameBefore;

namespace {

// Below this many added members a linear search beats the index.
constexpr uint32_t kIndexFrom = 8;

// The position of `name` (interned in the members' storage) among `count`
// sorted members; `count` when it is not there.
uint32_t FindSorted(const MemberSlot* members, uint32_t count, const InternedString& name) {
  const MemberSlot* at = std::lower_bound(members, members + count, name,
                                          [](const MemberSlot& member, const InternedString& key) {
                                            return NameBefore(*member.name, key);
                                          });
  return at != members + count && at->name == &name ? static_cast<uint32_t>(at - members) : count;
}

}  // namespace

void BindingMergingBuilder::Begin(BindingProperty& structure) {
  structure.MakeStructure();
  if (expectedNames_ != 0) {
    structure.Storage()->ReserveInterned(expectedNames_);
    expectedNames_ = 0;
  }
  if (depth_ == open_.size()) open_.emplace_back();
  Open& open = open_[depth_++];
  open.structure = &structure;
  open.sorted = structure.Size();
  open.indexed = open.sorted;
  open.index.clear();
}

uint32_t BindingMergingBuilder::FindAdded(Open& open, const InternedString& name) {
  const ArrayHeader* header = open.structure->payload_.array;
  const MemberSlot* members = MembersOf(header);
  const uint32_t count = header->size;
  if (count - open.sorted < kIndexFrom) {
    for (uint32_t member = open.sorted; member < count; ++member) {
      if (members[member].name == &name) return member;
    }
    return UINT32_MAX;
  }
  // The index is brought up to date only when a search needs it: names met
  // for the first time in the tree are never searched for.
  if (size_t{count - open.sorted} * 2 > open.index.size()) {
    // A power of two at least four times the added members: at most half
    // full until the next rebuild.
    open.index.assign(
        std::bit_ceil(std::max<size_t>(size_t{kIndexFrom} * 4, size_t{count - open.sorted} * 4)),
        0);
    open.indexed = open.sorted;
  }
  const size_t mask = open.index.size() - 1;
  for (; open.indexed < count; ++open.indexed) {
    size_t slot = members[open.indexed].name->hash & mask;
    while (open.index[slot] != 0) slot = (slot + 1) & mask;
    open.index[slot] = open.indexed + 1;
  }
  for (size_t slot = name.hash & mask; open.index[slot] != 0; slot = (slot + 1) & mask) {
    if (members[open.index[slot] - 1].name == &name) return open.index[slot] - 1;
  }
  return UINT32_MAX;
}

BindingProperty& BindingMergingBuilder::Member(std::string_view name) {
  Open& open = open_[depth_ - 1];
  BindingProperty& structure = *open.structure;
  BindingStorage& storage = *structure.Storage();
  // Interned first: the name may lie in this structure, which growing moves.
  InternedString* interned = storage.InternName(BindingInternal::CutAtNul(name));
  // A name the tree held nowhere else (one reference, and not the uncounted
  // empty name) cannot be a member yet.
  if (interned->length == 0 || interned->references > 1) {
    MemberSlot* members = MembersOf(structure.payload_.array);
    uint32_t at = FindSorted(members, open.sorted, *interned);
    if (at == open.sorted) at = FindAdded(open, *interned);
    if (at != UINT32_MAX) {
      storage.Release(interned);
      return members[at].value;
    }
  }
  structure.MakeRoomForMember(interned);
  ArrayHeader* header = structure.payload_.array;
  MemberSlot* slot = MembersOf(header) + header->size++;
  slot->name = interned;
  new (&slot->value) BindingProperty();
  slot->value.MakeChildOf(&storage);
  return slot->value;
}

const BindingProperty& BindingMergingBuilder::Find(const BindingProperty& structure,
                                                   std::string_view name) {
  for (size_t level = depth_; level > 0; --level) {
    Open& open = open_[level - 1];
    if (open.structure != &structure) continue;
    BindingStorage& storage = *structure.Storage();
    InternedString* interned = storage.InternName(BindingInternal::CutAtNul(name));
    const MemberSlot* members = MembersOf(structure.payload_.array);
    uint32_t at = FindSorted(members, open.sorted, *interned);
    if (at == open.sorted) at = FindAdded(open, *interned);
    storage.Release(interned);
    return at != UINT32_MAX ? members[at].value : EmptyBindingProperty();
  }
  return structure.Member(name);
}

void BindingMergingBuilder::End() {
  Open& open = open_[--depth_];
  ArrayHeader* header = open.structure->payload_.array;
  const uint32_t count = header->size;
  const uint32_t sorted = open.sorted;
  MemberSlot* members = MembersOf(header);
  // Names added in order after the last sorted one: nothing to move.
  uint32_t first = sorted == 0 ? 1 : sorted;
  while (first < count && NameBefore(*members[first - 1].name, *members[first].name)) ++first;
  if (first >= count) return;
  // Sort the added members by their names' order keys (the names themselves
  // where the keys are equal), then merge them with the sorted ones. Members
  // hold no pointer into themselves: they move by their bytes.
  order_.resize(count - sorted);
  for (uint32_t i = 0; i < count - sorted; ++i) {
    order_[i] = {members[sorted + i].name->orderKey, sorted + i};
  }
  std::sort(order_.begin(), order_.end(), [members](const Ordered& a, const Ordered& b) {
    if (a.key != b.key) return a.key < b.key;
    return NameBefore(*members[a.member].name, *members[b.member].name);
  });
  moved_.resize(size_t{count} * sizeof(MemberSlot));
  unsigned char* out = moved_.data();
  const auto take = [&out, members](uint32_t member) {
    std::memcpy(out, static_cast<const void*>(members + member), sizeof(MemberSlot));
    out += sizeof(MemberSlot);
  };
  uint32_t old = 0;
  for (const Ordered& added : order_) {
    while (old < sorted && NameBefore(*members[old].name, *members[added.member].name)) take(old++);
    take(added.member);
  }
  while (old < sorted) take(old++);
  std::memcpy(static_cast<void*>(members), moved_.data(), moved_.size());
}

}  // namespace Tesk
