// BindingStorage: the memory of one value tree, owned by its root. Small
// fixed-size blocks (headers, enumeration cells, map nodes, short interned
// strings) come from 18 size classes of 4 to 72 bytes carved out of pages from
// the PagePool; larger blocks (element arrays, blob bytes, long strings) come
// from the SDK allocator and are chained so that the whole tree can be dropped
// without walking it. Strings are interned with reference counts.
//
// Threads: used by one thread at a time, like its tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/internal/binding_blocks.h"

namespace Tesk {

class BindingStorage {
 public:
  static constexpr uint32_t kSizeClassCount = 18;
  static constexpr uint32_t kLargestSmallBlock = 72;

  // Null when memory is exhausted.
  [[nodiscard]] static BindingStorage* Create();
  // Frees every block of the storage at once, without visiting the tree.
  static void Destroy(BindingStorage* storage);

  // Frees every block but keeps one page per size class for reuse. All values
  // that lived in this storage are gone afterwards.
  void Clear();

  // Blocks of at most kLargestSmallBlock bytes come from the size classes,
  // larger ones from the SDK allocator. `size` must be the same on free.
  // Throws std::bad_alloc when memory is exhausted.
  [[nodiscard]] void* AllocateBlock(size_t size);
  void FreeBlock(void* block, size_t size) noexcept;
  // Resizes a block from AllocateBlock, keeping its first min(old, new) bytes.
  [[nodiscard]] void* ResizeBlock(void* block, size_t oldSize, size_t newSize);

  // The interned entry of `text` (cut at its first NUL), with one more reference.
  // The empty text is the shared empty entry, never counted.
  [[nodiscard]] BindingInternal::InternedString* Intern(std::string_view text);
  // Another reference to an entry of another storage's table, reusing its hash.
  [[nodiscard]] BindingInternal::InternedString* Intern(
      const BindingInternal::InternedString& entry);
  // Adds a reference to an entry of this storage.
  static void AddReference(BindingInternal::InternedString* entry) noexcept;
  // Drops a reference; the entry is erased when none is left.
  void Release(BindingInternal::InternedString* entry) noexcept;

  // Sizes the string table for `count` entries, so that interning that many
  // texts does not grow it again (a deep copy knows the count in advance).
  void ReserveInterned(uint32_t count);

  [[nodiscard]] uint32_t InternedCount() const { return internedCount_; }
  [[nodiscard]] uint32_t PageCount() const { return pageCount_; }

 private:
  struct Page;
  struct SizeClass {
    Page* withRoom = nullptr;  // pages with a free slot
    Page* all = nullptr;       // every page of the class
  };
  struct LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
  };

  BindingStorage() = default;
  ~BindingStorage() = default;

  void* TakeSlot(SizeClass& sizeClass, uint32_t slotSize);
  void ReturnSlot(SizeClass& sizeClass, void* block) noexcept;
  void* AllocateLarge(size_t size);
  void FreeLarge(void* block) noexcept;
  void ReleaseAllBlocks(bool keepOnePagePerClass) noexcept;
  BindingInternal::InternedString* InternHashed(std::string_view text, uint32_t hash);
  void GrowTable();
  void Rehash(uint32_t size);

  SizeClass classes_[kSizeClassCount];
  LargeBlock* largeBlocks_ = nullptr;
  uint32_t pageCount_ = 0;
  // Open-addressed table of interned entries (linear probing, power-of-two
  // size). Beside each slot, in the same block, a tag byte: 0 for an empty
  // slot, else the top byte of the entry's hash (1 when that is 0), so that a
  // probe reads entries only when their tag matches.
  BindingInternal::InternedString** table_ = nullptr;
  uint8_t* tags_ = nullptr;
  uint32_t tableSize_ = 0;
  uint32_t internedCount_ = 0;
};

// The FNV-1a hash of a text's bytes.
[[nodiscard]] uint32_t BindingStringHash(std::string_view text);

}  // namespace Tesk
