#include "codecs/internal/scratch_buffer.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "diagnostics/sdk_allocator.h"

namespace Tesk {
namespace {

struct Block {
  size_t capacity;  // bytes of room after the header

  char* Data() { return reinterpret_cast<char*>(this + 1); }
};

constinit std::atomic<Block*> kept{nullptr};

// Frees the kept block when the library unloads.
struct KeptBlockRelease {
  ~KeptBlockRelease() { Memory::Free(kept.exchange(nullptr)); }
} keptBlockRelease;

}  // namespace

ScratchBuffer::ScratchBuffer() {
  Block* block = kept.exchange(nullptr, std::memory_order_acquire);
  if (block == nullptr) return;
  block_ = block;
  data_ = block->Data();
  capacity_ = block->capacity;
}

ScratchBuffer::~ScratchBuffer() {
  auto* block = static_cast<Block*>(block_);
  if (block == nullptr) return;
  if (block->capacity > kMaxKeptBytes) {
    // Kept cut down to the largest size kept: its first pages stay warm for
    // the next large text, and shrinking a large block does not copy it.
    auto* kept = static_cast<Block*>(Memory::Reallocate(block, sizeof(Block) + kMaxKeptBytes));
    if (kept == nullptr) {
      Memory::Free(block);
      return;
    }
    block = kept;
    block->capacity = kMaxKeptBytes;
  }
  Memory::Free(kept.exchange(block, std::memory_order_acq_rel));
}

void ScratchBuffer::Reserve(size_t bytes) {
  if (bytes <= capacity_) return;
  // Grows by half again at least, so that a writer asking for a little more
  // each time costs amortised constant time.
  size_t capacity = capacity_ + capacity_ / 2;
  if (capacity < bytes) capacity = bytes;
  if (capacity < 4096) capacity = 4096;
  if (capacity > SIZE_MAX - sizeof(Block)) throw std::bad_alloc();
  auto* block = static_cast<Block*>(Memory::Reallocate(block_, sizeof(Block) + capacity));
  if (block == nullptr) throw std::bad_alloc();
  block->capacity = capacity;
  block_ = block;
  data_ = block->Data();
  capacity_ = capacity;
}

ScratchText::ScratchText(std::string_view text, size_t padding) {
  if (padding > SIZE_MAX - 1 - text.size()) throw std::bad_alloc();
  buffer_.Reserve(text.size() + 1 + padding);
  if (!text.empty()) std::memcpy(buffer_.data(), text.data(), text.size());
  std::memset(buffer_.data() + text.size(), 0, 1 + padding);
}

}  // namespace Tesk
