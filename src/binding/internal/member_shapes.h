// MemberShapes: what a tree builder remembers of the structures it closed, so
// that records of one shape cost neither a hash-table visit per name nor a
// sort. Documents repeat the same names in the same order from record to
// record, and names are interned, so a shape is recognised by comparing
// pointers.
//
// Two memories, both small fixed tables indexed by a few bits of a hash:
// - per place (a structure's own member name, else that of the nearest named
//   container above it; null at the root), the names of the last structure
//   closed there, in document order: a name read at position i is first
//   compared with the one the last structure in the same place had there;
// - per list of names, the order in which the members are stored (byte-wise
//   name order), or that the list names a member twice.
// Nothing is released while a tree is built, so the remembered entries stay
// interned. One memo per build, on one thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/binding_storage.h"
#include "binding/internal/binding_blocks.h"
#include "binding/internal/name_bytes.h"

namespace Tesk::BindingInternal {

class MemberShapes {
 public:
  // The names of the last structure closed in a place, in document order,
  // and the order they are stored in.
  struct Place {
    InternedString* place = nullptr;
    uint64_t stamp = 0;  // changes whenever the names do
    std::vector<InternedString*> names;
    std::vector<uint32_t> order;
  };

  // What a structure being read has matched of its place's names so far.
  struct Cursor {
    Place* expected;
    InternedString* place;
    uint64_t stamp;  // the names' stamp when the structure opened
    uint32_t hits;   // names found where expected
  };

  // The cursor of a structure standing in `place`.
  [[nodiscard]] Cursor Open(InternedString* place) {
    Place* expected = &places_[(reinterpret_cast<uintptr_t>(place) * 0x9E3779B97F4A7C15ull) >> 58];
    return {expected, place, expected->stamp, 0};
  }

  // The interned entry, with one more reference, of `name` (cut at its first
  // NUL) at `position` of the structure of `cursor`.
  [[nodiscard, gnu::always_inline]] static InternedString* Name(Cursor& cursor, size_t position,
                                                                std::string_view name,
                                                                BindingStorage& storage) {
    const Place* expected = cursor.expected;
    if (expected->place == cursor.place && position < expected->names.size()) {
      // An interned name holds no NUL: equal bytes need no cut.
      InternedString* candidate = expected->names[position];
      if (candidate->length == name.size() &&
          SameBytes(candidate->text, name.data(), name.size())) {
        BindingStorage::AddReference(candidate);
        ++cursor.hits;
        return candidate;
      }
    }
    return storage.InternName(CutAtNul(name));
  }

  // The storing order of the `count` (at least one) named slots at `first`,
  // the members of the structure of `cursor` in document order: order[i] is
  // the slot stored i-th; null when a name is given twice. Valid until the
  // next call. `Slot` has a member `name` (InternedString*).
  template <class Slot>
  [[nodiscard]] const uint32_t* OrderOf(const Cursor& cursor, const Slot* first, size_t count) {
    Place* const expected = cursor.expected;
    // Every name found where the place's list has it, the list unchanged
    // since the structure opened and as long: the same names, the same order.
    if (cursor.hits == count && expected->stamp == cursor.stamp &&
        expected->place == cursor.place && expected->names.size() == count) {
      return expected->order.data();
    }
    const uint32_t* order = OrderOfNames(first, count);
    if (order == nullptr) return nullptr;
    expected->place = cursor.place;
    expected->stamp = ++stamps_;
    expected->names.resize(count);
    for (size_t i = 0; i < count; ++i) expected->names[i] = first[i].name;
    expected->order.assign(order, order + count);
    return expected->order.data();
  }

 private:
  // The order of any list of names, remembered per list for the last few.
  template <class Slot>
  [[nodiscard]] const uint32_t* OrderOfNames(const Slot* first, size_t count);

  struct Order {
    std::vector<InternedString*> names;  // as they came
    std::vector<uint32_t> order;         // order[i]: the slot stored i-th
  };
  static constexpr size_t kPlaces = 64;            // indexed by 6 bits of a hash
  static constexpr size_t kRememberedOrders = 64;  // indexed by 6 bits of a hash
  static constexpr size_t kMaxRememberedMembers = 64;

  uint64_t stamps_ = 0;
  Place places_[kPlaces];
  Order orders_[kRememberedOrders];
  std::vector<uint32_t> unremembered_;  // the order of a structure too large to remember
};

template <class Slot>
const uint32_t* MemberShapes::OrderOfNames(const Slot* first, size_t count) {
  const bool remember = count <= kMaxRememberedMembers;
  Order* remembered = nullptr;
  std::vector<uint32_t>* order = &unremembered_;
  if (remember) {
    const uint64_t key = (reinterpret_cast<uintptr_t>(first[0].name) >> 3) +
                         (reinterpret_cast<uintptr_t>(first[count / 2].name) >> 3) * 31 +
                         (reinterpret_cast<uintptr_t>(first[count - 1].name) >> 3) * 961 + count;
    remembered = &orders_[(key * 0x9E3779B97F4A7C15ull) >> 58];
    if (remembered->names.size() == count) {
      size_t same = 0;
      while (same < count && remembered->names[same] == first[same].name) ++same;
      if (same == count) return remembered->order.data();
    }
    order = &remembered->order;
    remembered->names.clear();  // forgotten until the new order is known
  }
  order->resize(count);
  for (uint32_t i = 0; i < count; ++i) (*order)[i] = i;
  // Documents often list their names in order already: check before sorting.
  bool sorted = true;
  for (size_t i = 1; i < count && sorted; ++i)
    sorted = NameBefore(*first[i - 1].name, *first[i].name);
  if (!sorted) {
    std::sort(order->begin(), order->end(), [first](uint32_t a, uint32_t b) {
      return NameBefore(*first[a].name, *first[b].name);
    });
    for (size_t i = 1; i < count; ++i) {
      if (!NameBefore(*first[(*order)[i - 1]].name, *first[(*order)[i]].name)) return nullptr;
    }
  }
  if (remember) {
    remembered->names.resize(count);
    for (size_t i = 0; i < count; ++i) remembered->names[i] = first[i].name;
  }
  return order->data();
}

}  // namespace Tesk::BindingInternal
