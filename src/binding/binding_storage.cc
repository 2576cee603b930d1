#include "binding/binding_storage.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "binding/internal/name_bytes.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {

using BindingInternal::ArrayHeader;
using BindingInternal::InternedString;
using BindingInternal::SameBytes;

namespace BindingInternal {

InternedString* EmptyInterned() {
  static InternedString empty{0, 0x811C9DC5u, 0, 0, {'\0'}};
  return &empty;
}

ArrayHeader* EmptyArray() {
  // Never written: every change of a container first gives it a block of its own.
  alignas(16) static ArrayHeader empty{0, 0};
  return &empty;
}

}  // namespace BindingInternal

// A chunk's header; its blocks follow.
struct alignas(16) BindingStorage::Chunk {
  Chunk* next;
  size_t bytes;  // of the whole chunk, header included
};

namespace {

constexpr uint32_t kInitialTableSize = 8;
constexpr uint32_t kFnvOffsetBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;
constexpr size_t kLargestChunk = 64 * 1024;
constexpr size_t kStorageAlignment = 64;

uint8_t TagOf(uint32_t hash) {
  const auto tag = static_cast<uint8_t>(hash >> 24);
  return tag != 0 ? tag : 1;
}

// Bytes of a string table of `size` slots: the entry pointers, then the tags.
constexpr size_t kTableBytesPerSlot = sizeof(InternedString*) + 1;

size_t RoundToBlock(size_t size) {
  if (size == 0) return BindingStorage::kBlockAlignment;
  return (size + (BindingStorage::kBlockAlignment - 1)) & ~(BindingStorage::kBlockAlignment - 1);
}

// The size class of a block of `rounded` bytes (a multiple of 8 up to
// kLargestChunkBlock) and the bytes every block of that class has.
struct SizeClass {
  uint32_t index;
  size_t bytes;
};

SizeClass ClassOf(size_t rounded) {
  // Every size up to 512 bytes is a class: the member arrays of records of up
  // to 21 members (8 + 24 per member in 64-bit builds) take no more than they hold.
  if (rounded <= 512) return {static_cast<uint32_t>(rounded / 8 - 1), rounded};
  // Four classes per doubling above 512: 640, 768, 896, 1024, 1280, ...
  const unsigned power = static_cast<unsigned>(std::bit_width(rounded - 1)) - 1;  // 9..12
  const size_t step = size_t{1} << (power - 2);
  const size_t quarter = (rounded - 1 - (size_t{1} << power)) / step;  // 0..3
  return {64 + (power - 9) * 4 + static_cast<uint32_t>(quarter),
          (size_t{1} << power) + (quarter + 1) * step};
}

}  // namespace

uint32_t BindingStringHash(std::string_view text) {
  uint32_t hash = kFnvOffsetBasis;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= kFnvPrime;
  }
  return hash;
}

BindingStorage* BindingStorage::Create() {
  void* memory = Memory::Allocate(sizeof(BindingStorage) + kStorageAlignment - 1);
  if (memory == nullptr) return nullptr;
  const uintptr_t aligned = (reinterpret_cast<uintptr_t>(memory) + kStorageAlignment - 1) &
                            ~uintptr_t{kStorageAlignment - 1};
  // Values keep the storage's address in 48 bits (see BindingProperty).
  if (sizeof(void*) == 8 && (static_cast<uint64_t>(aligned) >> 48) != 0) {
    Memory::Free(memory);
    return nullptr;
  }
  auto* storage = new (reinterpret_cast<void*>(aligned)) BindingStorage();
  storage->allocation_ = memory;
  storage->cursor_ = storage->inlineChunk_;
  storage->limit_ = storage->inlineChunk_ + kInlineChunkBytes;
  MarkUnusable(storage->inlineChunk_, kInlineChunkBytes);
  return storage;
}

void BindingStorage::Destroy(BindingStorage* storage) {
  if (storage == nullptr) return;
  storage->ReleaseChunksAndLargeBlocks();
  Memory::Free(storage->table_);
  void* memory = storage->allocation_;
  MarkUsable(storage->inlineChunk_, kInlineChunkBytes);
  storage->~BindingStorage();
  Memory::Free(memory);
}

void BindingStorage::Clear() noexcept {
  ReleaseChunksAndLargeBlocks();
  cursor_ = inlineChunk_;
  limit_ = inlineChunk_ + kInlineChunkBytes;
  MarkUnusable(inlineChunk_, kInlineChunkBytes);
  nextChunkBytes_ = 1024;
  smallBytesInUse_ = 0;
  std::memset(freeLists_, 0, sizeof freeLists_);
  if (table_ != nullptr) std::memset(table_, 0, tableSize_ * kTableBytesPerSlot);
  internedCount_ = 0;
  for (KnownName& recent : recent_) recent = KnownName{};
}

void BindingStorage::ReleaseChunksAndLargeBlocks() noexcept {
  for (Chunk* chunk = chunks_; chunk != nullptr;) {
    Chunk* next = chunk->next;
    MarkUsable(chunk, chunk->bytes);
    Memory::Free(chunk);
    chunk = next;
  }
  chunks_ = nullptr;
  for (LargeBlock* block = largeBlocks_; block != nullptr;) {
    LargeBlock* next = block->next;
    Memory::Free(block);
    block = next;
  }
  largeBlocks_ = nullptr;
}

void* BindingStorage::AllocateSlow(size_t size) {
  CheckBlockSize(size);
  const size_t rounded = RoundToBlock(size);
  if (rounded > kLargestChunkBlock) return AllocateLarge(rounded);
  const SizeClass sizeClass = ClassOf(rounded);
  void*& freeList = freeLists_[sizeClass.index];
  if (freeList != nullptr) {
    void* block = freeList;
    MarkUsable(block, sizeClass.bytes);
    std::memcpy(&freeList, block, sizeof(void*));
    smallBytesInUse_ += sizeClass.bytes;
    return block;
  }
  return TakeFromChunk(sizeClass.bytes);
}

void* BindingStorage::TakeFromChunk(size_t classBytes) {
  if (static_cast<size_t>(limit_ - cursor_) < classBytes) {
    // The rest of the current chunk is left unused: a new chunk, twice the
    // last one's size up to kLargestChunk, or just large enough.
    size_t bytes = nextChunkBytes_;
    if (bytes < sizeof(Chunk) + classBytes) bytes = sizeof(Chunk) + classBytes;
    ReserveBytes(bytes - sizeof(Chunk));
  }
  char* block = cursor_;
  cursor_ += classBytes;
  smallBytesInUse_ += classBytes;
  MarkUsable(block, classBytes);
  return block;
}

void BindingStorage::ReserveBytes(size_t bytes) {
  if (static_cast<size_t>(limit_ - cursor_) >= bytes) return;
  if (bytes > SIZE_MAX - sizeof(Chunk)) throw std::bad_alloc();
  const size_t chunkBytes = sizeof(Chunk) + bytes;
  auto* chunk = static_cast<Chunk*>(Memory::Allocate(chunkBytes));
  if (chunk == nullptr) throw std::bad_alloc();
  chunk->next = chunks_;
  chunk->bytes = chunkBytes;
  chunks_ = chunk;
  cursor_ = reinterpret_cast<char*>(chunk + 1);
  limit_ = reinterpret_cast<char*>(chunk) + chunkBytes;
  MarkUnusable(cursor_, bytes);
  if (nextChunkBytes_ < kLargestChunk) nextChunkBytes_ *= 2;
}

void BindingStorage::FreeBlock(void* block, size_t size) noexcept {
  if (block == nullptr) return;
  const size_t rounded = RoundToBlock(size);
  if (rounded > kLargestChunkBlock) {
    FreeLarge(block);
    return;
  }
  const SizeClass sizeClass = ClassOf(rounded);
  void*& freeList = freeLists_[sizeClass.index];
  std::memcpy(block, &freeList, sizeof(void*));
  freeList = block;
  smallBytesInUse_ -= sizeClass.bytes;
  MarkUnusable(static_cast<char*>(block) + sizeof(void*), sizeClass.bytes - sizeof(void*));
}

void* BindingStorage::ResizeBlock(void* block, size_t oldSize, size_t newSize) {
  if (block == nullptr) return AllocateBlock(newSize);
  CheckBlockSize(newSize);
  const size_t oldRounded = RoundToBlock(oldSize);
  const size_t newRounded = RoundToBlock(newSize);
  if (oldRounded > kLargestChunkBlock && newRounded > kLargestChunkBlock) {
    // Both large: let the allocator move it, then fix the neighbours' links.
    LargeBlock* header = static_cast<LargeBlock*>(block) - 1;
    auto* moved =
        static_cast<LargeBlock*>(Memory::Reallocate(header, sizeof(LargeBlock) + newRounded));
    if (moved == nullptr) throw std::bad_alloc();
    if (moved->previous != nullptr) moved->previous->next = moved;
    if (moved->next != nullptr) moved->next->previous = moved;
    if (largeBlocks_ == header) largeBlocks_ = moved;
    moved->size = newRounded;
    return moved + 1;
  }
  if (oldRounded <= kLargestChunkBlock && newRounded <= kLargestChunkBlock) {
    const size_t oldBytes = ClassOf(oldRounded).bytes;
    const size_t newBytes = ClassOf(newRounded).bytes;
    char* const start = static_cast<char*>(block);
    // The chunk's last block grows (or shrinks) where it is, unless a freed
    // block of the new size waits for reuse: taking fresh chunk bytes then
    // would let the free lists grow with every round of a repeated pattern.
    if (start + oldBytes == cursor_ && start + newBytes <= limit_ &&
        freeLists_[ClassOf(newRounded).index] == nullptr) {
      if (newBytes > oldBytes) MarkUsable(cursor_, newBytes - oldBytes);
      if (newBytes < oldBytes) MarkUnusable(start + newBytes, oldBytes - newBytes);
      cursor_ = start + newBytes;
      smallBytesInUse_ = smallBytesInUse_ - oldBytes + newBytes;
      return block;
    }
  }
  void* resized = AllocateBlock(newSize);
  std::memcpy(resized, block, oldSize < newSize ? oldSize : newSize);
  FreeBlock(block, oldSize);
  return resized;
}

void BindingStorage::CheckBlockSize(size_t size) {
  // Rounding up and the large block's header must not wrap the size.
  if (size > SIZE_MAX - sizeof(LargeBlock) - kBlockAlignment) throw std::bad_alloc();
}

void* BindingStorage::AllocateLarge(size_t size) {
  auto* block = static_cast<LargeBlock*>(Memory::Allocate(sizeof(LargeBlock) + size));
  if (block == nullptr) throw std::bad_alloc();
  block->previous = nullptr;
  block->next = largeBlocks_;
  block->size = size;
  if (largeBlocks_ != nullptr) largeBlocks_->previous = block;
  largeBlocks_ = block;
  return block + 1;
}

void BindingStorage::FreeLarge(void* memory) noexcept {
  LargeBlock* block = static_cast<LargeBlock*>(memory) - 1;
  if (block->previous != nullptr) block->previous->next = block->next;
  if (block->next != nullptr) block->next->previous = block->previous;
  if (largeBlocks_ == block) largeBlocks_ = block->next;
  Memory::Free(block);
}

InternedString* BindingStorage::InternName(std::string_view name) {
  if (name.empty()) return BindingInternal::EmptyInterned();
  // The same address may hold another text by now: the bytes decide.
  if (KnownName* known = Known(name)) {
    ++known->entry->references;
    return known->entry;
  }
  InternedString* entry = InternHashed(name, BindingInternal::NameHash(name));
  // The newer entry first; the older of the set gives way.
  static_assert(kRecentWays == 2);
  KnownName* const set = RecentSet(name.data());
  set[1] = set[0];
  set[0] = {name.data(), entry, UINT32_MAX, 0};
  return entry;
}

InternedString* BindingStorage::Intern(const InternedString& entry) {
  if (entry.length == 0) return BindingInternal::EmptyInterned();
  return InternHashed(entry.View(), entry.hash);
}

InternedString* BindingStorage::InternHashed(std::string_view text, uint32_t hash) {
  if (text.empty()) return BindingInternal::EmptyInterned();
  if ((internedCount_ + 1) * 4 > tableSize_ * 3) GrowTable();
  const uint32_t mask = tableSize_ - 1;
  const uint8_t tag = TagOf(hash);
  uint32_t slot = hash & mask;
  for (uint8_t slotTag; (slotTag = tags_[slot]) != 0; slot = (slot + 1) & mask) {
    if (slotTag != tag) continue;
    InternedString* entry = table_[slot];
    if (entry->hash == hash && entry->length == text.size() &&
        SameBytes(entry->text, text.data(), text.size())) {
      ++entry->references;
      return entry;
    }
  }
  if (text.size() > UINT32_MAX - 64) throw std::bad_alloc();
  const auto length = static_cast<uint32_t>(text.size());
  auto* entry = static_cast<InternedString*>(AllocateBlock(InternedString::BlockSize(length)));
  entry->orderKey = BindingInternal::NameOrderKey(text);
  entry->hash = hash;
  entry->references = 1;
  entry->length = length;
  std::memcpy(entry->text, text.data(), length);
  entry->text[length] = '\0';
  table_[slot] = entry;
  tags_[slot] = tag;
  ++internedCount_;
  return entry;
}

void BindingStorage::Release(InternedString* entry) noexcept {
  if (entry == nullptr || entry->length == 0 || --entry->references != 0) return;
  // Erase with backward shifting, so that probing needs no tombstones.
  const uint32_t mask = tableSize_ - 1;
  uint32_t slot = entry->hash & mask;
  while (table_[slot] != entry) slot = (slot + 1) & mask;
  uint32_t hole = slot;
  for (uint32_t next = (hole + 1) & mask; tags_[next] != 0; next = (next + 1) & mask) {
    const uint32_t home = table_[next]->hash & mask;
    // Move the entry into the hole when its home is not between hole and next.
    const bool between =
        hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (!between) {
      table_[hole] = table_[next];
      tags_[hole] = tags_[next];
      hole = next;
    }
  }
  table_[hole] = nullptr;
  tags_[hole] = 0;
  --internedCount_;
  for (KnownName& recent : recent_) {
    if (recent.entry == entry) recent = KnownName{};
  }
  FreeBlock(entry, InternedString::BlockSize(entry->length));
}

void BindingStorage::GrowTable() { Rehash(tableSize_ == 0 ? kInitialTableSize : tableSize_ * 2); }

void BindingStorage::ReserveInterned(uint32_t count) {
  if (count == 0) return;
  uint64_t size = tableSize_ == 0 ? kInitialTableSize : tableSize_;
  // The size that growing entry by entry would reach (load at most 3/4).
  while (uint64_t{count} * 4 > size * 3) size *= 2;
  if (size > (uint64_t{1} << 31)) throw std::bad_alloc();
  if (size != tableSize_) Rehash(static_cast<uint32_t>(size));
}

void BindingStorage::Rehash(uint32_t size) {
  // In 64 bits: a 32-bit size times the slot size overflows only a 32-bit size_t.
  const uint64_t bytes = uint64_t{size} * kTableBytesPerSlot;
  if (bytes > SIZE_MAX) throw std::bad_alloc();
  void* block = Memory::Allocate(static_cast<size_t>(bytes));
  if (block == nullptr) throw std::bad_alloc();
  std::memset(block, 0, size * kTableBytesPerSlot);
  auto** table = static_cast<InternedString**>(block);
  auto* tags = reinterpret_cast<uint8_t*>(table + size);
  const uint32_t mask = size - 1;
  InternedString* const* const oldTable = table_;
  const uint8_t* const oldTags = tags_;
  const uint32_t oldSize = tableSize_;
  for (uint32_t i = 0; i < oldSize; ++i) {
    if (oldTags[i] == 0) continue;
    InternedString* entry = oldTable[i];
    uint32_t slot = entry->hash & mask;
    while (tags[slot] != 0) slot = (slot + 1) & mask;
    table[slot] = entry;
    tags[slot] = oldTags[i];
  }
  Memory::Free(table_);
  table_ = table;
  tags_ = tags;
  tableSize_ = size;
}

}  // namespace Tesk
