// BindingProperty: the dynamic value. A tree of scalars, strings, blobs,
// enumeration values, collections and structures whose members are always in
// byte-wise name order. A root value owns the BindingStorage of its tree; its
// children (elements and members) live in that storage and never own it.
//
// Threads: a tree is used by one thread at a time; whole roots may be copied
// or moved between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Tesk {

struct TypeKey;
class BindingStorage;
class BindingTreeBuilder;
class BindingSizedTreeBuilder;

namespace BindingInternal {
struct ArrayHeader;
struct BlobBlock;
struct EnumCell;
struct StringBlock;
struct MemberSlot;
struct InternedString;
}  // namespace BindingInternal

enum class BindingPropertyKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// An enumeration value together with the key of its enumeration type (null
// when the type is unknown), so that it can be printed by name later.
struct BindingEnumValue {
  int32_t value = 0;
  const TypeKey* type = nullptr;

  friend bool operator==(const BindingEnumValue&, const BindingEnumValue&) = default;
};

// The largest element count of a collection; more fails with std::length_error.
inline constexpr uint32_t kMaxCollectionSize = (1u << 28) - 1;

class BindingProperty {
 public:
  class MemberIterator;
  struct MemberView;
  class MemberRange;

  BindingProperty() noexcept = default;
  // Copies are deep.
  BindingProperty(const BindingProperty& other);
  BindingProperty& operator=(const BindingProperty& other);
  // Moving a root into a root exchanges their trees and never allocates. A
  // child's blocks belong to its tree, so moving a child out of it, or moving
  // anything into a child, copies into the target's tree. A copy may throw
  // std::bad_alloc: the source is then left as it was, and the target holds
  // a valid part of the copy.
  BindingProperty(BindingProperty&& other);
  BindingProperty& operator=(BindingProperty&& other);
  ~BindingProperty();

  // Releases the payload (recursively) and makes the value empty. The storage
  // of a root stays for later use.
  void Reset() noexcept {
    if (HoldsBlock()) ReleaseBlocks();
    SetKind(BindingPropertyKind::Empty);
    payload_.unsignedValue = 0;
  }

  // Setters: Reset, then store the new kind and payload.
  void SetBool(bool value) {
    Reset();
    SetKind(BindingPropertyKind::Bool);
    payload_.boolean = value ? 1 : 0;
  }
  void SetSigned(int64_t value) {
    Reset();
    SetKind(BindingPropertyKind::Signed);
    payload_.signedValue = value;
  }
  void SetUnsigned(uint64_t value) {
    Reset();
    SetKind(BindingPropertyKind::Unsigned);
    payload_.unsignedValue = value;
  }
  void SetFloat(double value) {
    Reset();
    SetKind(BindingPropertyKind::Float);
    payload_.floatValue = value;
  }
  // Held inside the value when short, else copied into a block of the tree's
  // storage; the text ends at its first NUL.
  void SetString(std::string_view text);
  void SetString(const char* text) { SetString(std::string_view(text != nullptr ? text : "")); }
  void SetString(const std::string& text) { SetString(std::string_view(text)); }
  void SetBlob(std::span<const uint8_t> bytes);
  void SetBlob(const std::vector<uint8_t>& bytes) { SetBlob(std::span<const uint8_t>(bytes)); }
  void SetEnum(BindingEnumValue value);
  // Turn the value into an empty collection or structure, unless it already is one.
  void MakeCollection();
  void MakeStructure();

  [[nodiscard]] BindingPropertyKind Kind() const {
    return static_cast<BindingPropertyKind>(head_ & kKindMask);
  }
  [[nodiscard]] bool IsEmpty() const { return Kind() == BindingPropertyKind::Empty; }
  // "empty", "bool", ... "structure"; "" for an unknown code.
  [[nodiscard]] static const char* KindName(BindingPropertyKind kind);
  // 0 for empty; bytes of a string or blob; elements; members; 1 otherwise.
  [[nodiscard]] uint32_t Size() const;

  // The payload when the value is of exactly that kind, else the default.
  [[nodiscard]] bool GetBool(bool fallback = false) const;
  [[nodiscard]] int64_t GetSigned(int64_t fallback = 0) const;
  [[nodiscard]] uint64_t GetUnsigned(uint64_t fallback = 0) const;
  [[nodiscard]] double GetFloat(double fallback = 0) const;
  // The view stays valid until the value changes or its tree is destroyed.
  [[nodiscard]] std::string_view GetString(std::string_view fallback = {}) const;
  // NUL-terminated; "" for a value of another kind.
  [[nodiscard]] const char* CString() const;
  [[nodiscard]] std::span<const uint8_t> GetBlob(std::span<const uint8_t> fallback = {}) const;
  [[nodiscard]] BindingEnumValue GetEnum(BindingEnumValue fallback = {}) const;

  // Empty, zero, "false"... see the truth table: strings are true only for
  // exactly "true" or "1".
  [[nodiscard]] bool Truth() const;
  // Text form: numbers in decimal, floats with "%f", strings and blobs as
  // their bytes, enum values as their number; "" for empty and containers.
  [[nodiscard]] std::string ToText() const;

  // Read-only children: the shared empty value when absent. Never modify.
  [[nodiscard]] const BindingProperty& At(uint32_t index) const;
  [[nodiscard]] const BindingProperty& Member(std::string_view name) const;
  [[nodiscard]] bool HasMember(std::string_view name) const;

  // Mutable children. A value of another kind is first replaced by an empty
  // collection or structure. Children are stored contiguously: a reference to
  // an element stays valid until its collection grows, a reference to a member
  // until a member is added to or removed from its structure. Take the
  // reference again after such a change.
  BindingProperty& Element(uint32_t index);
  BindingProperty& Append();
  void Reserve(uint32_t count);
  // For a structure only (otherwise nothing): room for `count` members, so that
  // a reader that knows the count adds them without growing the array.
  void ReserveMembers(uint32_t count);
  BindingProperty& MemberRef(std::string_view name);
  // Removes a member; false when there is none of that name.
  bool RemoveMember(std::string_view name);

  // Elements of a collection in index order (empty for other kinds).
  [[nodiscard]] std::span<const BindingProperty> Elements() const;
  [[nodiscard]] std::span<BindingProperty> MutableElements();
  // Members of a structure in name order (empty for other kinds).
  [[nodiscard]] MemberRange Members() const;

  // The storage of the tree; null until a value of the tree needed one.
  [[nodiscard]] BindingStorage* Storage() const {
    return reinterpret_cast<BindingStorage*>(head_ & kStorageMask);
  }
  [[nodiscard]] bool OwnsStorage() const { return (head_ & kOwnsStorageBit) != 0; }

  // Deep equality: same kinds, payloads, elements and members.
  friend bool operator==(const BindingProperty& a, const BindingProperty& b);
  friend class BindingTreeBuilder;
  friend class BindingSizedTreeBuilder;
  friend class BindingMergingBuilder;

 private:
  class Copier;

  // The head holds the storage pointer (storages are 64-byte aligned) with the
  // kind in bits 0-3, the owns-storage flag in bit 4 and, for a string, whether
  // its text is held inline in bit 5. A string of up to kInlineCapacity bytes
  // lives in the value's bytes from kInlineOffset on: in 64-bit builds the
  // head's top two bytes are free for it, since user-space addresses fit in 48
  // bits. The last byte holds kInlineCapacity minus the length, so that it is
  // the terminating NUL of a text of full length. Longer strings, blobs, enum
  // cells and the arrays of containers are blocks of the storage; a value holds
  // no pointer into itself and moves by copying its bytes.
  static constexpr bool k64Bit = sizeof(void*) == 8;
  static constexpr uintptr_t kKindMask = 0x0F;
  static constexpr uintptr_t kOwnsStorageBit = 0x10;
  static constexpr uintptr_t kInlineTextBit = 0x20;
  static constexpr uintptr_t kTagMask = 0x3F;
  static constexpr uintptr_t kStorageMask =
      k64Bit ? static_cast<uintptr_t>(0x0000FFFFFFFFFFC0ull) : ~kTagMask;
  static constexpr size_t kInlineOffset = k64Bit ? 6 : 4;
  static constexpr size_t kInlineCapacity = 16 - kInlineOffset - 1;

  BindingStorage& EnsureStorage();
  [[nodiscard]] bool HoldsBlock() const {
    // String (not inline), blob, enum, collection or structure: with the inline
    // bit set the tags lie above them all.
    const uintptr_t tags = head_ & (kKindMask | kInlineTextBit);
    return tags - static_cast<uintptr_t>(BindingPropertyKind::String) <=
           static_cast<uintptr_t>(BindingPropertyKind::Structure) -
               static_cast<uintptr_t>(BindingPropertyKind::String);
  }
  void SetKind(BindingPropertyKind kind) {
    head_ = (head_ & ~(kKindMask | kInlineTextBit)) | static_cast<uintptr_t>(kind);
  }
  BindingProperty& GrowTo(uint32_t index);
  // A collection's or structure's array with room for `capacity` items of
  // `itemBytes` each.
  void GrowArray(uint32_t capacity, size_t itemBytes);
  // Room for one more member of a structure: grows a full array, releasing
  // `name` (the new member's reference) when that throws.
  void MakeRoomForMember(BindingInternal::InternedString* name);
  // Whether Reset frees the whole tree (a root container) rather than the
  // value's own blocks.
  [[nodiscard]] bool ReleaseDropsTree() const;
  void ReleaseBlocks() noexcept;
  void ReleasePayload() noexcept;
  void ReleaseMembers() noexcept;
  void CopyFrom(const BindingProperty& source);
  // The bytes of a copy of `source` whose blocks, if any, are already in this
  // value's tree: how an assignment to a child from the same tree copies
  // before it lets go of anything, since the source may lie inside the target.
  struct StagedBytes {
    alignas(8) unsigned char bytes[16];
  };
  [[nodiscard]] StagedBytes StageCopyOf(const BindingProperty& source);
  // Takes staged kind and payload bytes, keeping this value's storage and ownership.
  void TakeStaged(const StagedBytes& staged) noexcept;
  void MakeChildOf(BindingStorage* storage) { head_ = reinterpret_cast<uintptr_t>(storage); }
  void SetInlineText(std::string_view text);
  [[nodiscard]] char* InlineText() { return reinterpret_cast<char*>(this) + kInlineOffset; }
  [[nodiscard]] const char* InlineText() const {
    return reinterpret_cast<const char*>(this) + kInlineOffset;
  }
  [[nodiscard]] uint32_t InlineLength() const {
    return static_cast<uint32_t>(kInlineCapacity -
                                 reinterpret_cast<const unsigned char*>(this)[15]);
  }
  void SwapBytes(BindingProperty& other) noexcept;

  union Payload {
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    BindingInternal::StringBlock* string;
    BindingInternal::BlobBlock* blob;
    BindingInternal::EnumCell* enumCell;
    BindingInternal::ArrayHeader* array;
  };

  uintptr_t head_ = kOwnsStorageBit;
#if UINTPTR_MAX == 0xFFFFFFFFu
  uint32_t inlineStart_ = 0;  // the first bytes of an inline text
#endif
  Payload payload_{.unsignedValue = 0};
};

// The shared immutable empty value.
[[nodiscard]] const BindingProperty& EmptyBindingProperty();

// The result of reading, converting or calling something: a root value and a
// success flag. A failed result's value is the structure {"error": message}.
class [[nodiscard]] BindingResult {
 public:
  BindingResult() = default;
  // A deep copy of `value`, ok.
  explicit BindingResult(const BindingProperty& value) : value(value) {}

  // Resets the value, marks the result failed and stores the message.
  void Fail(std::string_view message);
  // Empty when ok; otherwise the "error" member's text (empty if not a string).
  [[nodiscard]] std::string ErrorText() const;

  BindingProperty value;
  bool ok = true;
};

}  // namespace Tesk

#include "binding/internal/binding_property_members.h"
