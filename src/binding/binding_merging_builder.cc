#include "binding/binding_merging_builder.h"

#include <algorithm>
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

// The first of the `count` sorted members whose name is not before `name`.
uint32_t LowerBound(const MemberSlot* members, uint32_t count, std::string_view name) {
  const MemberSlot* at = std::lower_bound(
      members, members + count, name, [](const MemberSlot& member, std::string_view key) {
        return BindingInternal::NameLess::Compare(member.name->View(), key) < 0;
      });
  return static_cast<uint32_t>(at - members);
}

}  // namespace

void BindingMergingBuilder::Begin(BindingProperty& structure) {
  structure.MakeStructure();
  if (depth_ == open_.size()) open_.emplace_back();
  Open& open = open_[depth_++];
  open.structure = &structure;
  open.sorted = structure.Size();
  open.index.clear();
}

uint32_t BindingMergingBuilder::FindAdded(const Open& open, std::string_view name, uint32_t hash) {
  const ArrayHeader* header = open.structure->payload_.array;
  const MemberSlot* members = MembersOf(header);
  const auto named = [&](uint32_t member) {
    const InternedString& entry = *members[member].name;
    return entry.hash == hash && entry.View() == name;
  };
  if (open.index.empty()) {
    for (uint32_t member = open.sorted; member < header->size; ++member) {
      if (named(member)) return member;
    }
    return UINT32_MAX;
  }
  const size_t mask = open.index.size() - 1;
  for (size_t slot = hash & mask; open.index[slot] != 0; slot = (slot + 1) & mask) {
    if (named(open.index[slot] - 1)) return open.index[slot] - 1;
  }
  return UINT32_MAX;
}

void BindingMergingBuilder::Index(Open& open, uint32_t member) {
  const MemberSlot* members = MembersOf(open.structure->payload_.array);
  const uint32_t added = member + 1 - open.sorted;
  if (added < kIndexFrom) return;
  const auto place = [&](uint32_t at) {
    const size_t mask = open.index.size() - 1;
    size_t slot = members[at].name->hash & mask;
    while (open.index[slot] != 0) slot = (slot + 1) & mask;
    open.index[slot] = at + 1;
  };
  // At most half full: rebuilt twice as large from every added member.
  if (size_t{added} * 2 > open.index.size()) {
    open.index.assign(std::max<size_t>(size_t{kIndexFrom} * 4, open.index.size() * 2), 0);
    for (uint32_t at = open.sorted; at <= member; ++at) place(at);
    return;
  }
  place(member);
}

BindingProperty& BindingMergingBuilder::Member(std::string_view name) {
  Open& open = open_[depth_ - 1];
  BindingProperty& structure = *open.structure;
  name = BindingInternal::CutAtNul(name);
  const uint32_t hash = BindingInternal::NameHash(name);
  MemberSlot* members = MembersOf(structure.payload_.array);
  if (open.sorted != 0) {
    const uint32_t at = LowerBound(members, open.sorted, name);
    if (at < open.sorted && members[at].name->View() == name) return members[at].value;
  }
  const uint32_t added = FindAdded(open, name, hash);
  if (added != UINT32_MAX) return members[added].value;
  // Interned before the array grows: the name may lie in this structure.
  BindingStorage& storage = *structure.Storage();
  InternedString* interned = storage.InternName(name);
  structure.MakeRoomForMember(interned);
  ArrayHeader* header = structure.payload_.array;
  MemberSlot* slot = MembersOf(header) + header->size;
  slot->name = interned;
  new (&slot->value) BindingProperty();
  slot->value.MakeChildOf(&storage);
  const uint32_t member = header->size++;
  try {
    Index(open, member);
  } catch (...) {
    // Without its index entry the member could be added twice: take it back.
    --header->size;
    storage.Release(interned);
    throw;
  }
  return slot->value;
}

const BindingProperty& BindingMergingBuilder::Find(const BindingProperty& structure,
                                                   std::string_view name) const {
  for (size_t level = depth_; level > 0; --level) {
    const Open& open = open_[level - 1];
    if (open.structure != &structure) continue;
    name = BindingInternal::CutAtNul(name);
    const MemberSlot* members = MembersOf(structure.payload_.array);
    const uint32_t at = LowerBound(members, open.sorted, name);
    if (at < open.sorted && members[at].name->View() == name) return members[at].value;
    const uint32_t added = FindAdded(open, name, BindingInternal::NameHash(name));
    return added != UINT32_MAX ? members[added].value : EmptyBindingProperty();
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
  // Sort the added members by name, then merge them with the sorted ones.
  // Members hold no pointer into themselves: they move by their bytes.
  order_.resize(count - sorted);
  for (uint32_t i = 0; i < count - sorted; ++i) order_[i] = sorted + i;
  std::sort(order_.begin(), order_.end(), [members](uint32_t a, uint32_t b) {
    return NameBefore(*members[a].name, *members[b].name);
  });
  moved_.resize(size_t{count} * sizeof(MemberSlot));
  unsigned char* out = moved_.data();
  uint32_t old = 0;
  for (const uint32_t added : order_) {
    while (old < sorted && NameBefore(*members[old].name, *members[added].name)) {
      std::memcpy(out, static_cast<const void*>(members + old++), sizeof(MemberSlot));
      out += sizeof(MemberSlot);
    }
    std::memcpy(out, static_cast<const void*>(members + added), sizeof(MemberSlot));
    out += sizeof(MemberSlot);
  }
  while (old < sorted) {
    std::memcpy(out, static_cast<const void*>(members + old++), sizeof(MemberSlot));
    out += sizeof(MemberSlot);
  }
  std::memcpy(static_cast<void*>(members), moved_.data(), moved_.size());
}

}  // namespace Tesk
