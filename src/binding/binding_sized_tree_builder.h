// BindingSizedTreeBuilder: builds a value tree for a reader that learns each
// container's item count from its header (MessagePack). A container takes
// one block when it opens and its items are written where they stay; a
// structure's members are put in name order once, when it closes. The reader
// keeps the open containers (its own recursion or stack) and says how much
// to reserve: a count announced by the input is a claim, not a fact, so the
// reader bounds it by what the rest of the input could hold; a container
// that turns out larger grows.
//
// A structure that names a member twice cannot be built this way (the rules
// for a repeated name merge the values in order): CloseStructure reports it,
// and the reader then reads the input again with MemberRef.
//
// The builder writes into the root's storage and owns nothing: a read that
// stops half way leaves blocks that the root's next Reset or destruction
// frees. One builder per read, on one thread.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "binding/internal/binding_blocks.h"
#include "binding/internal/binding_property_members.h"
#include "binding/internal/member_shapes.h"

namespace Tesk {

class BindingSizedTreeBuilder {
 public:
  // An interned member name; also where a structure stands: its own name,
  // else (an element, or the root) that of the nearest named container above.
  // Structures in one place are expected to have the names of the last one.
  using Name = BindingInternal::InternedString*;

  // A container being filled, kept by the reader until it closes.
  struct Container {
    BindingInternal::ArrayHeader* items;
    BindingInternal::MemberShapes::Cursor shape;  // a structure's: its names so far
  };

  // `root` must be an empty root value; the reader writes the root value into it.
  explicit BindingSizedTreeBuilder(BindingProperty& root);
  BindingSizedTreeBuilder(const BindingSizedTreeBuilder&) = delete;
  BindingSizedTreeBuilder& operator=(const BindingSizedTreeBuilder&) = delete;

  // A collection with room for `capacity` elements (at most kMaxCollectionSize).
  [[nodiscard]] Container OpenCollection(uint32_t capacity) {
    return {
        capacity == 0 ? BindingInternal::EmptyArray() : NewBlock(capacity, sizeof(BindingProperty)),
        {}};
  }
  // The next element: an empty value of the tree, to be written once.
  [[nodiscard, gnu::always_inline]] BindingProperty& AddElement(Container& collection) {
    BindingInternal::ArrayHeader* items = collection.items;
    if (items->size == items->capacity)
      items = collection.items = Grow(items, sizeof(BindingProperty));
    return Fresh(BindingInternal::ElementsOf(items) + items->size++);
  }
  // Makes `target` (an empty value of this tree) the collection.
  static void CloseCollection(const Container& collection, BindingProperty& target) {
    target.payload_.array = collection.items;
    target.SetKind(BindingPropertyKind::Collection);
  }

  // A structure with room for `capacity` members standing in `place`.
  [[nodiscard]] Container OpenStructure(uint32_t capacity, Name place) {
    return {capacity == 0 ? BindingInternal::EmptyArray()
                          : NewBlock(capacity, sizeof(BindingInternal::MemberSlot)),
            shapes_.Open(place)};
  }
  // The name of the structure's next member, from `text` cut at its first NUL.
  [[nodiscard]] Name MemberName(Container& structure, std::string_view text) {
    return BindingInternal::MemberShapes::Name(structure.shape, structure.items->size, text,
                                               storage_);
  }
  // The next member, named `name` (from MemberName): an empty value to be written once.
  [[nodiscard, gnu::always_inline]] BindingProperty& AddMember(Container& structure, Name name) {
    BindingInternal::ArrayHeader* items = structure.items;
    if (items->size == items->capacity) {
      items = structure.items = Grow(items, sizeof(BindingInternal::MemberSlot));
    }
    BindingInternal::MemberSlot* member = BindingInternal::MembersOf(items) + items->size++;
    member->name = name;
    return Fresh(&member->value);
  }
  // Writers of a value from AddElement or AddMember, or of the root, while
  // it is still empty: nothing to release first.
  static void WriteBool(BindingProperty& fresh, bool value) {
    fresh.SetKind(BindingPropertyKind::Bool);
    fresh.payload_.unsignedValue = value ? 1 : 0;
  }
  static void WriteSigned(BindingProperty& fresh, int64_t value) {
    fresh.SetKind(BindingPropertyKind::Signed);
    fresh.payload_.signedValue = value;
  }
  static void WriteUnsigned(BindingProperty& fresh, uint64_t value) {
    fresh.SetKind(BindingPropertyKind::Unsigned);
    fresh.payload_.unsignedValue = value;
  }
  static void WriteFloat(BindingProperty& fresh, double value) {
    fresh.SetKind(BindingPropertyKind::Float);
    fresh.payload_.floatValue = value;
  }

  // Puts the members in name order and makes `target` (an empty value of this
  // tree) the structure; false when a name is given twice.
  [[nodiscard]] bool CloseStructure(const Container& structure, BindingProperty& target);

 private:
  [[gnu::always_inline]] BindingProperty& Fresh(BindingProperty* at) {
    auto* value = new (at) BindingProperty();
    value->MakeChildOf(&storage_);
    return *value;
  }
  BindingInternal::ArrayHeader* NewBlock(uint32_t capacity, size_t itemBytes);
  // A full container's block with room for more, its items moved along.
  BindingInternal::ArrayHeader* Grow(BindingInternal::ArrayHeader* items, size_t itemBytes);

  BindingStorage& storage_;
  BindingInternal::MemberShapes shapes_;
  std::vector<unsigned char> reordered_;  // a structure's members while they are put in order
};

}  // namespace Tesk
