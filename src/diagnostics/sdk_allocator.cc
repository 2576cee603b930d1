#include "diagnostics/sdk_allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace Tesk::Memory {
namespace {

// Constant-initialised, so counting works from the first static constructor on.
struct Counters {
  std::atomic<uint64_t> peakLiveBytes{0};
  std::atomic<uint64_t> liveBlocksAtPeak{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocations{0};
  std::atomic<uint64_t> bytesFreed{0};
  std::atomic<uint64_t> frees{0};
};
constinit Counters counters;

size_t BlockSize(void* block) { return block != nullptr ? Platform::UsableSize(block) : 0; }

// The freed bytes are read first: every byte in them was counted as allocated
// before it was counted as freed (the free's release pairs with this acquire),
// so the allocated bytes read afterwards are never fewer. Read the other way
// round, frees made between the two loads would wrap the difference to about
// 2^64. A block freed here that was not allocated here is still not trusted
// to keep the difference positive.
void UpdatePeak() {
  const uint64_t freed = counters.bytesFreed.load(std::memory_order_acquire);
  const uint64_t allocated = counters.bytesAllocated.load(std::memory_order_relaxed);
  if (allocated < freed) return;
  const uint64_t live = allocated - freed;
  uint64_t peak = counters.peakLiveBytes.load(std::memory_order_relaxed);
  while (live > peak) {
    if (counters.peakLiveBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
      counters.liveBlocksAtPeak.store(counters.allocations.load(std::memory_order_relaxed) -
                                          counters.frees.load(std::memory_order_relaxed),
                                      std::memory_order_relaxed);
      return;
    }
  }
}

void CountAllocation(void* block) {
  counters.bytesAllocated.fetch_add(BlockSize(block), std::memory_order_relaxed);
  counters.allocations.fetch_add(1, std::memory_order_relaxed);
  UpdatePeak();
}

void CountFree(size_t usableSize) {
  counters.bytesFreed.fetch_add(usableSize, std::memory_order_release);
  counters.frees.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void* Allocate(size_t size) {
  void* block = std::malloc(size);
  CountAllocation(block);
  return block;
}

void Free(void* block) {
  if (block == nullptr) return;
  CountFree(BlockSize(block));
  std::free(block);
}

void* Reallocate(void* block, size_t size) {
  const size_t oldSize = BlockSize(block);
  void* moved = std::realloc(block, size);
  // A failed reallocation leaves the caller's block as it was: nothing to count.
  if (moved == nullptr && block != nullptr && size != 0) return nullptr;
  CountFree(oldSize);
  CountAllocation(moved);
  return moved;
}

char* DuplicateString(const char* text) {
  const size_t length = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(length));
  if (copy != nullptr) std::memcpy(copy, text, length);
  CountAllocation(copy);
  return copy;
}

size_t UsableSize(void* block) { return BlockSize(block); }

AllocationCounters ReadAllocationCounters() {
  return {counters.peakLiveBytes.load(),  counters.liveBlocksAtPeak.load(),
          counters.bytesAllocated.load(), counters.allocations.load(),
          counters.bytesFreed.load(),     counters.frees.load()};
}

}  // namespace Tesk::Memory
