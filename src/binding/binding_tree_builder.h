// BindingTreeBuilder: builds a value tree bottom-up for a reader that sees the
// values in document order and learns a container's size only at its end
// (JSON; a reader told sizes ahead uses BindingSizedTreeBuilder). Values wait on a stack until
// their container closes; the container then takes one block of the exact
// size, and a structure's members are sorted once. Nothing grows, nothing is
// searched while reading.
//
// A structure that names a member twice cannot be built this way (the rules
// for a repeated name merge the values in order): EndStructure reports it, and
// the reader then reads the document again with MemberRef, which applies them.
//
// The builder writes into the root's storage and owns nothing: a read that
// stops half way leaves blocks that the root's next Reset or destruction frees.
// One builder per read, on one thread.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/binding_property.h"
#include "binding/internal/binding_blocks.h"
#include "binding/internal/member_shapes.h"

namespace Tesk {

class BindingTreeBuilder {
 public:
  // `root` must be an empty root value; it gets the tree at Finish.
  explicit BindingTreeBuilder(BindingProperty& root);
  BindingTreeBuilder(const BindingTreeBuilder&) = delete;
  BindingTreeBuilder& operator=(const BindingTreeBuilder&) = delete;

  // The next value, at the root, as an element, or as the member named by Key.
  void Empty() { Push(); }
  void Bool(bool value) { Push().SetBool(value); }
  void Signed(int64_t value) { Push().SetSigned(value); }
  void Unsigned(uint64_t value) { Push().SetUnsigned(value); }
  void Float(double value) { Push().SetFloat(value); }
  void String(std::string_view text) { Push().SetString(text); }
  void Blob(std::span<const uint8_t> bytes) { Push().SetBlob(bytes); }
  // The next value, empty, for a reader whose scalar rules write into a
  // value. Give it a scalar kind only: containers are built with the Start
  // and End calls.
  BindingProperty& Scalar() { return Push(); }

  // Inside a structure: the name of the next value (cut at its first NUL).
  void Key(std::string_view name);

  void StartCollection();
  void EndCollection();
  void StartStructure();
  // False when the structure named a member twice: the build cannot go on.
  [[nodiscard]] bool EndStructure();

  // Moves the root value, once every container has ended, into the root.
  void Finish();

 private:
  // A value waiting on the stack, laid out as a structure's member (its name,
  // then its bytes), so that a closing structure copies its members at once.
  struct Slot {
    BindingInternal::InternedString* name;
    alignas(BindingProperty) unsigned char value[sizeof(BindingProperty)];
  };
  static_assert(std::is_trivially_copyable_v<Slot>);
  struct Open {
    uint32_t base;                          // the first stack slot of its items
    BindingInternal::InternedString* name;  // its own name, in a structure
    // Where the structure stands: its own name, else (an element) that of the
    // nearest container that has one. Its names are expected to be those of
    // the last structure closed in the same place.
    BindingInternal::InternedString* place;
    BindingInternal::MemberShapes::Cursor shape;  // a structure's: its names so far
  };

  // Ends the innermost container; `count` its items waiting on the stack.
  Open Close(size_t& count);
  [[gnu::always_inline]] BindingProperty& Push() {
    Slot& slot = stack_.emplace_back();
    slot.name = pendingName_;
    pendingName_ = nullptr;
    auto* value = new (slot.value) BindingProperty();
    value->MakeChildOf(&storage_);
    return *value;
  }
  void PushOpen(bool structure);
  static BindingProperty& ValueOf(Slot& slot) {
    return *std::launder(reinterpret_cast<BindingProperty*>(slot.value));
  }
  void PushContainer(BindingPropertyKind kind, BindingInternal::ArrayHeader* items,
                     BindingInternal::InternedString* name);

  BindingProperty& root_;
  BindingStorage& storage_;
  // Values waiting for their container, with their names beside them (null
  // in a collection). Plain bytes: a value is moved by copying them.
  std::vector<Slot> stack_;
  std::vector<Open> open_;
  BindingInternal::InternedString* pendingName_ = nullptr;
  BindingInternal::MemberShapes shapes_;
};

}  // namespace Tesk
