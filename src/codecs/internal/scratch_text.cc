#include "codecs/internal/scratch_text.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "diagnostics/sdk_allocator.h"

namespace Tesk {

namespace {

struct Block {
  size_t capacity;  // bytes of text room after the header

  char* Text() { return reinterpret_cast<char*>(this + 1); }
};

constinit std::atomic<Block*> kept{nullptr};

// Frees the kept block when the library unloads.
struct KeptBlockRelease {
  ~KeptBlockRelease() { Memory::Free(kept.exchange(nullptr)); }
} keptBlockRelease;

}  // namespace

ScratchText::ScratchText(std::string_view text) {
  const size_t needed = text.size() + 1;
  Block* block = kept.exchange(nullptr, std::memory_order_acquire);
  if (block != nullptr && block->capacity < needed) {
    Memory::Free(block);
    block = nullptr;
  }
  if (block == nullptr) {
    if (needed > SIZE_MAX - sizeof(Block)) throw std::bad_alloc();
    block = static_cast<Block*>(Memory::Allocate(sizeof(Block) + needed));
    if (block == nullptr) throw std::bad_alloc();
    block->capacity = needed;
  }
  block_ = block;
  text_ = block->Text();
  if (!text.empty()) std::memcpy(text_, text.data(), text.size());
  text_[text.size()] = '\0';
}

ScratchText::~ScratchText() {
  auto* block = static_cast<Block*>(block_);
  if (block->capacity > kMaxKeptBytes) {
    Memory::Free(block);
    return;
  }
  Memory::Free(kept.exchange(block, std::memory_order_acq_rel));
}

}  // namespace Tesk
