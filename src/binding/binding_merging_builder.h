// BindingMergingBuilder: fills structures member by member in the order names
// arrive, as the readers that merge repeated names do, at a cost near-linear
// in the members added. MemberRef keeps a structure sorted at every step, so
// names that arrive in descending order cost a shift of the whole array each;
// here new members are appended, found again through an index while their
// structure is open, and put in name order once when it ends.
//
// Threads: used by one thread at a time, like the tree it fills.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"

namespace Tesk {

class BindingMergingBuilder {
 public:
  BindingMergingBuilder() = default;
  BindingMergingBuilder(const BindingMergingBuilder&) = delete;
  BindingMergingBuilder& operator=(const BindingMergingBuilder&) = delete;

  // Sizes the table of member names of the next structure begun for `count`
  // names: a reader that reads an input again knows them from the first read.
  void ExpectNames(uint32_t count) { expectedNames_ = count; }
  // Opens `structure` (made one if it is another kind; members it already has
  // stay) for Member until the matching End. Until then the structure's
  // members are not in name order: nothing but this builder may read or
  // change the structure itself (its members' values may be used freely), and
  // its members' addresses last until the next Member that adds one.
  void Begin(BindingProperty& structure);
  // The member `name` (cut at its first NUL) of the innermost open structure:
  // the one it has, or a new empty member. Throws std::bad_alloc and
  // std::length_error as MemberRef does.
  BindingProperty& Member(std::string_view name);
  // The member `name` of `structure`, or the shared empty value: open
  // structures are searched through their index. Throws std::bad_alloc.
  [[nodiscard]] const BindingProperty& Find(const BindingProperty& structure,
                                            std::string_view name);
  // Puts the innermost open structure's members in name order and closes it.
  void End();
  // Ends every open structure, innermost first.
  void EndAll() {
    while (depth_ != 0) End();
  }

 private:
  struct Open {
    BindingProperty* structure;
    uint32_t sorted;   // members in name order when it was opened
    uint32_t indexed;  // members up to here are in `index`
    // Open addressing by name hash over the members added since it was
    // opened: each slot holds a member's index plus one, 0 for an empty slot.
    std::vector<uint32_t> index;
  };
  struct Ordered {
    uint64_t key;  // the name's order key
    uint32_t member;
  };

  // The member of `open`'s structure that has the interned `name` among
  // those added since it was opened; UINT32_MAX when none.
  [[nodiscard]] static uint32_t FindAdded(Open& open, const BindingInternal::InternedString& name);

  std::vector<Open> open_;
  size_t depth_ = 0;  // open_ entries past depth_ are kept for reuse
  uint32_t expectedNames_ = 0;
  std::vector<Ordered> order_;        // scratch for End
  std::vector<unsigned char> moved_;  // scratch for End
};

}  // namespace Tesk
