// BindingStorage: the memory of one value tree, owned by its root. Blocks are
// cut in order from chunks of growing size (an arena); a freed block goes to a
// free list of its size class and is reused by the next block of that class.
// Blocks above kLargestChunkBlock are heap blocks of their own, chained so that
// they can be resized and freed one by one. Destroying the storage frees its
// few chunks and large blocks without visiting the tree. Member names are
// interned once per tree with reference counts.
//
// Threads: used by one thread at a time, like its tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/internal/binding_blocks.h"
#include "binding/internal/name_bytes.h"

#if defined(__SANITIZE_ADDRESS__)
#define KTX_BINDING_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KTX_BINDING_POISON 1
#endif
#endif
#ifndef KTX_BINDING_POISON
#define KTX_BINDING_POISON 0
#endif
#if KTX_BINDING_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace Tesk {

class BindingStorage {
 public:
  // Blocks up to this size come from the chunks; larger ones from the heap.
  static constexpr size_t kLargestChunkBlock = 8192;
  // Every block is aligned to this, and the storage itself to 64 bytes.
  static constexpr size_t kBlockAlignment = 8;

  // Null when memory is exhausted.
  [[nodiscard]] static BindingStorage* Create();
  // Frees every block of the storage at once, without visiting the tree.
  static void Destroy(BindingStorage* storage);

  // Frees every block; the storage's own first chunk stays for reuse. All
  // values that lived in this storage are gone afterwards.
  void Clear() noexcept;

  // A block of at least `size` bytes, aligned to kBlockAlignment. `size` must
  // be the same on free. Throws std::bad_alloc when memory is exhausted.
  [[nodiscard]] void* AllocateBlock(size_t size) {
    // The common case inline: a small block from its free list or the chunk.
    const size_t rounded = (size + (kBlockAlignment - 1)) & ~(kBlockAlignment - 1);
    if (rounded - 1 < kSmallestClassStep * kFineClassCount) {
      void*& freeList = freeLists_[rounded / kSmallestClassStep - 1];
      if (freeList == nullptr && static_cast<size_t>(limit_ - cursor_) >= rounded) {
        char* block = cursor_;
        cursor_ += rounded;
        smallBytesInUse_ += rounded;
        MarkUsable(block, rounded);
        return block;
      }
    }
    return AllocateSlow(size);
  }
  void FreeBlock(void* block, size_t size) noexcept;
  // Resizes a block from AllocateBlock (or null with oldSize 0), keeping its
  // first min(old, new) bytes; grows in place when the block is the chunk's last.
  [[nodiscard]] void* ResizeBlock(void* block, size_t oldSize, size_t newSize);
  // Makes room for `bytes` more of small blocks in one chunk, so that a tree of
  // known size (a deep copy) takes one chunk instead of a series.
  void ReserveBytes(size_t bytes);
  // Bytes of chunk blocks handed out and not freed: what a copy of the whole
  // tree needs of chunks at most.
  [[nodiscard]] size_t SmallBytesInUse() const { return smallBytesInUse_; }

  // The interned entry of `name` (a text without NUL), with one more
  // reference; the empty text is the shared empty entry, never counted. A name
  // given again at the same address (a literal, a registry's field name) is
  // found without hashing it.
  [[nodiscard]] BindingInternal::InternedString* InternName(std::string_view name);
  // What the storage remembers of a name given at one address: the entry
  // InternName gave for it, and where MemberRef last found or placed it (a
  // structure of `among` members had it, or would have put it, at `at`).
  struct KnownName {
    const char* text = nullptr;
    BindingInternal::InternedString* entry = nullptr;
    uint32_t among = UINT32_MAX;
    uint32_t at = 0;
  };
  // What is known of `name` (not empty) when InternName last saw a text at
  // its address and the address still holds those bytes; null otherwise.
  [[nodiscard]] KnownName* Known(std::string_view name) {
    KnownName* const set = RecentSet(name.data());
    for (size_t way = 0; way < kRecentWays; ++way) {
      KnownName& known = set[way];
      if (known.text == name.data() && known.entry->length == name.size() &&
          BindingInternal::SameBytes(known.entry->text, name.data(), name.size())) {
        return &known;
      }
    }
    return nullptr;
  }
  // Another reference to an entry of another storage's table, reusing its hash.
  [[nodiscard]] BindingInternal::InternedString* Intern(
      const BindingInternal::InternedString& entry);
  // Adds a reference to an entry of this storage.
  static void AddReference(BindingInternal::InternedString* entry) noexcept {
    if (entry->length != 0) ++entry->references;
  }
  // Drops a reference; the entry is erased when none is left.
  void Release(BindingInternal::InternedString* entry) noexcept;

  // Sizes the string table for `count` entries, so that interning that many
  // texts does not grow it again (a deep copy knows the count in advance).
  void ReserveInterned(uint32_t count);

  [[nodiscard]] uint32_t InternedCount() const { return internedCount_; }

 private:
  struct Chunk;
  struct LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
    size_t size;
    size_t padding;  // keeps the block after the header 16-byte aligned
  };
  // Size classes: 8-byte steps up to 512 bytes, then four per doubling up to
  // kLargestChunkBlock.
  static constexpr size_t kSmallestClassStep = 8;
  static constexpr uint32_t kFineClassCount = 64;
  static constexpr uint32_t kClassCount = kFineClassCount + 4 * 4;
  static constexpr size_t kInlineChunkBytes = 256;

  BindingStorage() = default;
  ~BindingStorage() = default;

  // Under AddressSanitizer, bytes of chunks that no block holds are poisoned,
  // so that a reference kept past its block's release is reported.
  static void MarkUsable([[maybe_unused]] void* block, [[maybe_unused]] size_t size) noexcept {
#if KTX_BINDING_POISON
    __asan_unpoison_memory_region(block, size);
#endif
  }
  static void MarkUnusable([[maybe_unused]] void* block, [[maybe_unused]] size_t size) noexcept {
#if KTX_BINDING_POISON
    __asan_poison_memory_region(block, size);
#endif
  }
  // Throws std::bad_alloc for a size no block can have.
  static void CheckBlockSize(size_t size);
  void* AllocateSlow(size_t size);
  void* TakeFromChunk(size_t classBytes);
  void* AllocateLarge(size_t size);
  void FreeLarge(void* block) noexcept;
  void ReleaseChunksAndLargeBlocks() noexcept;
  BindingInternal::InternedString* InternHashed(std::string_view text, uint32_t hash);
  void GrowTable();
  void Rehash(uint32_t size);

  char* cursor_ = nullptr;  // the next free byte of the current chunk
  char* limit_ = nullptr;   // the end of the current chunk
  Chunk* chunks_ = nullptr;
  size_t nextChunkBytes_ = 1024;
  size_t smallBytesInUse_ = 0;
  LargeBlock* largeBlocks_ = nullptr;
  void* freeLists_[kClassCount] = {};
  // Open-addressed table of interned entries (linear probing, power-of-two
  // size). Beside each slot, in the same block, a tag byte: 0 for an empty
  // slot, else the top byte of the entry's hash (1 when that is 0), so that a
  // probe reads entries only when their tag matches.
  BindingInternal::InternedString** table_ = nullptr;
  uint8_t* tags_ = nullptr;
  uint32_t tableSize_ = 0;
  uint32_t internedCount_ = 0;
  // The entries last interned by InternName, by the address of the text given,
  // in sets of two chosen by the address (the newer first), so that a few
  // names whose addresses meet in a set do not push each other out; an entry
  // leaves when it is erased.
  static constexpr size_t kRecentWays = 2;
  static constexpr size_t kRecentNames = 64;
  KnownName* RecentSet(const char* text) {
    const size_t set = (reinterpret_cast<uintptr_t>(text) * 0x9E3779B97F4A7C15ull) >> 59;
    return &recent_[set * kRecentWays];
  }
  KnownName recent_[kRecentNames];
  void* allocation_ = nullptr;  // the heap block this storage was placed in
  alignas(16) char inlineChunk_[kInlineChunkBytes];
};

// The FNV-1a hash of a text's bytes.
[[nodiscard]] uint32_t BindingStringHash(std::string_view text);

}  // namespace Tesk
