// The SDK's allocation functions. Every allocation of the plug-in goes through
// them (its global operator new and delete included), so that the host can read
// how much memory the plug-in holds. Counting is lock-free and safe from any
// thread; byte counts are the usable sizes the runtime library reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tesk::Memory {

// Returns nullptr when the heap is exhausted (the failed attempt still counts).
[[nodiscard]] void* Allocate(size_t size);
// Null is accepted and ignored.
void Free(void* block);
// As realloc; an absent block counts as a free of 0 bytes.
[[nodiscard]] void* Reallocate(void* block, size_t size);
// A counted copy of a NUL-terminated text, to be released with Free.
[[nodiscard]] char* DuplicateString(const char* text);
// The usable size of a block from Allocate; 0 for null.
[[nodiscard]] size_t UsableSize(void* block);

struct AllocationCounters {
  uint64_t peakLiveBytes;     // the largest bytesAllocated - bytesFreed seen
  uint64_t liveBlocksAtPeak;  // allocations - frees when the peak was last raised
  uint64_t bytesAllocated;
  uint64_t allocations;
  uint64_t bytesFreed;
  uint64_t frees;
};

// Each counter read atomically (the set is not one snapshot).
[[nodiscard]] AllocationCounters ReadAllocationCounters();

}  // namespace Tesk::Memory
