#include "binding/binding_storage.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>

#include "binding/page_pool.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {

using BindingInternal::InternedString;

namespace BindingInternal {

InternedString* EmptyInterned() {
  static InternedString empty{0x811C9DC5u, 0, 0, {'\0'}};
  return &empty;
}

}  // namespace BindingInternal

// A page of one size class: this header, then slots. Free slots are chained by
// 16-bit slot indices in their first two bytes; 0 ends the chain. Slots past
// `nextUnused` have never been handed out.
struct BindingStorage::Page {
  Page* nextRoom;
  Page* previousRoom;
  Page* nextAll;
  Page* previousAll;
  uint16_t slotSize;
  uint16_t used;
  uint16_t firstFree;
  uint16_t nextUnused;
  uint16_t slotCount;
  uint16_t firstSlot;
  bool inRoomList;
};

namespace {

constexpr uint32_t kInitialTableSize = 8;
constexpr uint32_t kFnvOffsetBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

uint8_t TagOf(uint32_t hash) {
  const auto tag = static_cast<uint8_t>(hash >> 24);
  return tag != 0 ? tag : 1;
}

// Bytes of a string table of `size` slots: the entry pointers, then the tags.
constexpr size_t kTableBytesPerSlot = sizeof(InternedString*) + 1;

uint32_t ClassIndex(size_t size) { return static_cast<uint32_t>((size + 3) / 4) - 1; }

char* SlotAddress(void* page, uint32_t slotSize, uint32_t index) {
  return static_cast<char*>(page) + static_cast<size_t>(slotSize) * index;
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
  void* memory = Memory::Allocate(sizeof(BindingStorage));
  if (memory == nullptr) return nullptr;
  return new (memory) BindingStorage();
}

void BindingStorage::Destroy(BindingStorage* storage) {
  if (storage == nullptr) return;
  storage->ReleaseAllBlocks(false);
  Memory::Free(storage->table_);
  storage->~BindingStorage();
  Memory::Free(storage);
}

void BindingStorage::Clear() {
  ReleaseAllBlocks(true);
  if (table_ != nullptr) std::memset(table_, 0, tableSize_ * kTableBytesPerSlot);
  internedCount_ = 0;
}

void BindingStorage::ReleaseAllBlocks(bool keepOnePagePerClass) noexcept {
  for (LargeBlock* block = largeBlocks_; block != nullptr;) {
    LargeBlock* next = block->next;
    Memory::Free(block);
    block = next;
  }
  largeBlocks_ = nullptr;
  // Pages go back in batches, one pool lock per batch.
  void* batch[128];
  size_t batched = 0;
  for (SizeClass& sizeClass : classes_) {
    Page* kept = keepOnePagePerClass ? sizeClass.all : nullptr;
    for (Page* page = sizeClass.all; page != nullptr;) {
      Page* next = page->nextAll;
      if (page != kept) {
        batch[batched++] = page;
        if (batched == std::size(batch)) {
          PagePool::ReturnPages(batch, batched);
          batched = 0;
        }
        --pageCount_;
      }
      page = next;
    }
    sizeClass = SizeClass{};
    if (kept != nullptr) {
      kept->used = 0;
      kept->firstFree = 0;
      kept->nextUnused = kept->firstSlot;
      kept->nextAll = kept->previousAll = nullptr;
      kept->nextRoom = kept->previousRoom = nullptr;
      kept->inRoomList = true;
      sizeClass.all = sizeClass.withRoom = kept;
    }
  }
  PagePool::ReturnPages(batch, batched);
}

void* BindingStorage::AllocateBlock(size_t size) {
  if (size > kLargestSmallBlock) return AllocateLarge(size);
  if (size == 0) size = 1;
  const uint32_t index = ClassIndex(size);
  return TakeSlot(classes_[index], (index + 1) * 4);
}

void BindingStorage::FreeBlock(void* block, size_t size) noexcept {
  if (block == nullptr) return;
  if (size > kLargestSmallBlock) {
    FreeLarge(block);
    return;
  }
  ReturnSlot(classes_[ClassIndex(size == 0 ? 1 : size)], block);
}

void* BindingStorage::ResizeBlock(void* block, size_t oldSize, size_t newSize) {
  if (block != nullptr && oldSize > kLargestSmallBlock && newSize > kLargestSmallBlock) {
    // Both large: let the allocator move it, then fix the neighbours' links.
    LargeBlock* header = static_cast<LargeBlock*>(block) - 1;
    auto* moved =
        static_cast<LargeBlock*>(Memory::Reallocate(header, sizeof(LargeBlock) + newSize));
    if (moved == nullptr) throw std::bad_alloc();
    if (moved->previous != nullptr) moved->previous->next = moved;
    if (moved->next != nullptr) moved->next->previous = moved;
    if (largeBlocks_ == header) largeBlocks_ = moved;
    return moved + 1;
  }
  void* resized = AllocateBlock(newSize);
  if (block != nullptr) {
    std::memcpy(resized, block, oldSize < newSize ? oldSize : newSize);
    FreeBlock(block, oldSize);
  }
  return resized;
}

void* BindingStorage::TakeSlot(SizeClass& sizeClass, uint32_t slotSize) {
  Page* page = sizeClass.withRoom;
  if (page == nullptr) {
    page = static_cast<Page*>(PagePool::TakePage());
    if (page == nullptr) throw std::bad_alloc();
    ++pageCount_;
    const uint32_t firstSlot = static_cast<uint32_t>((sizeof(Page) + slotSize - 1) / slotSize);
    *page = Page{nullptr,
                 nullptr,
                 sizeClass.all,
                 nullptr,
                 static_cast<uint16_t>(slotSize),
                 0,
                 0,
                 static_cast<uint16_t>(firstSlot),
                 static_cast<uint16_t>(kBindingPageSize / slotSize),
                 static_cast<uint16_t>(firstSlot),
                 true};
    if (sizeClass.all != nullptr) sizeClass.all->previousAll = page;
    sizeClass.all = page;
    sizeClass.withRoom = page;
  }
  char* slot;
  if (page->firstFree != 0) {
    slot = SlotAddress(page, slotSize, page->firstFree);
    uint16_t next;
    std::memcpy(&next, slot, sizeof next);
    page->firstFree = next;
  } else {
    slot = SlotAddress(page, slotSize, page->nextUnused++);
  }
  ++page->used;
  if (page->firstFree == 0 && page->nextUnused == page->slotCount) {
    // Full: off the list of pages with room.
    sizeClass.withRoom = page->nextRoom;
    if (page->nextRoom != nullptr) page->nextRoom->previousRoom = nullptr;
    page->nextRoom = page->previousRoom = nullptr;
    page->inRoomList = false;
  }
  return slot;
}

void BindingStorage::ReturnSlot(SizeClass& sizeClass, void* block) noexcept {
  auto* page = reinterpret_cast<Page*>(reinterpret_cast<uintptr_t>(block) &
                                       ~(uintptr_t{kBindingPageSize} - 1));
  const uint16_t index = static_cast<uint16_t>(
      (static_cast<char*>(block) - reinterpret_cast<char*>(page)) / page->slotSize);
  std::memcpy(block, &page->firstFree, sizeof page->firstFree);
  page->firstFree = index;
  --page->used;
  if (!page->inRoomList) {
    page->nextRoom = sizeClass.withRoom;
    page->previousRoom = nullptr;
    if (sizeClass.withRoom != nullptr) sizeClass.withRoom->previousRoom = page;
    sizeClass.withRoom = page;
    page->inRoomList = true;
  }
  // An empty page goes back to the pool, unless it is the class's only page.
  if (page->used != 0 || (sizeClass.all == page && page->nextAll == nullptr)) return;
  if (page->previousRoom != nullptr) page->previousRoom->nextRoom = page->nextRoom;
  if (page->nextRoom != nullptr) page->nextRoom->previousRoom = page->previousRoom;
  if (sizeClass.withRoom == page) sizeClass.withRoom = page->nextRoom;
  if (page->previousAll != nullptr) page->previousAll->nextAll = page->nextAll;
  if (page->nextAll != nullptr) page->nextAll->previousAll = page->previousAll;
  if (sizeClass.all == page) sizeClass.all = page->nextAll;
  PagePool::ReturnPage(page);
  --pageCount_;
}

void* BindingStorage::AllocateLarge(size_t size) {
  auto* block = static_cast<LargeBlock*>(Memory::Allocate(sizeof(LargeBlock) + size));
  if (block == nullptr) throw std::bad_alloc();
  block->previous = nullptr;
  block->next = largeBlocks_;
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

InternedString* BindingStorage::Intern(std::string_view text) {
  // One pass finds the first NUL and hashes the bytes before it.
  uint32_t hash = kFnvOffsetBasis;
  size_t length = 0;
  for (; length < text.size(); ++length) {
    const auto c = static_cast<unsigned char>(text[length]);
    if (c == 0) break;
    hash ^= c;
    hash *= kFnvPrime;
  }
  if (length == 0) return BindingInternal::EmptyInterned();
  return InternHashed(text.substr(0, length), hash);
}

InternedString* BindingStorage::Intern(const InternedString& entry) {
  if (entry.length == 0) return BindingInternal::EmptyInterned();
  return InternHashed(entry.View(), entry.hash);
}

void BindingStorage::AddReference(InternedString* entry) noexcept {
  if (entry->length != 0) ++entry->references;
}

InternedString* BindingStorage::InternHashed(std::string_view text, uint32_t hash) {
  if ((internedCount_ + 1) * 4 > tableSize_ * 3) GrowTable();
  const uint32_t mask = tableSize_ - 1;
  const uint8_t tag = TagOf(hash);
  uint32_t slot = hash & mask;
  for (uint8_t slotTag; (slotTag = tags_[slot]) != 0; slot = (slot + 1) & mask) {
    if (slotTag != tag) continue;
    InternedString* entry = table_[slot];
    if (entry->hash == hash && entry->View() == text) {
      ++entry->references;
      return entry;
    }
  }
  const uint32_t length = static_cast<uint32_t>(text.size());
  auto* entry = static_cast<InternedString*>(AllocateBlock(InternedString::BlockSize(length)));
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
  // Entries are scattered over the storage's pages: fetch a few slots ahead.
  constexpr uint32_t kAhead = 8;
  for (uint32_t i = 0; i < oldSize; ++i) {
    if (i + kAhead < oldSize && oldTags[i + kAhead] != 0) __builtin_prefetch(oldTable[i + kAhead]);
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
