// The counting behind HeapMeter, including the program's replacement of the
// global operator new and delete. Link this file into a benchmark program once.
#include "support/heap_meter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

#include "diagnostics/sdk_allocator.h"
#include "platform/platform.h"

namespace Tesk::Bench {
namespace {

// Plain counters, not atomics: a meter runs on one thread, and the timed loops
// (meter off) pay only the test of `metering`.
struct Counts {
  bool metering = false;
  int64_t newBytes = 0;
  int64_t newBlocks = 0;
  int64_t crtBytes = 0;
  int64_t crtBlocks = 0;
};
constinit Counts counts;

void CountNew(void* block, int64_t sign) {
  if (!counts.metering || block == nullptr) return;
  counts.newBytes += sign * static_cast<int64_t>(Platform::UsableSize(block));
  counts.newBlocks += sign;
}

void CountCrt(void* block, int64_t sign) {
  if (!counts.metering || block == nullptr) return;
  counts.crtBytes += sign * static_cast<int64_t>(Platform::UsableSize(block));
  counts.crtBlocks += sign;
}

void* NewBlock(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  CountNew(block, 1);
  return block;
}

void DeleteBlock(void* block) noexcept {
  CountNew(block, -1);
  std::free(block);
}

}  // namespace

HeapMeter::HeapMeter() {
  const Memory::AllocationCounters sdk = Memory::ReadAllocationCounters();
  sdkLiveBytes_ = static_cast<int64_t>(sdk.bytesAllocated - sdk.bytesFreed);
  sdkLiveBlocks_ = static_cast<int64_t>(sdk.allocations - sdk.frees);
  counts = Counts{true, 0, 0, 0, 0};
}

HeapMeter::~HeapMeter() { counts.metering = false; }

HeapUse HeapMeter::Read() const {
  const Memory::AllocationCounters sdk = Memory::ReadAllocationCounters();
  HeapUse use;
  use.operatorNewBytes = counts.newBytes;
  use.crtBytes = counts.crtBytes;
  use.sdkBytes = static_cast<int64_t>(sdk.bytesAllocated - sdk.bytesFreed) - sdkLiveBytes_;
  use.heapBlocks = counts.newBlocks + counts.crtBlocks +
                   static_cast<int64_t>(sdk.allocations - sdk.frees) - sdkLiveBlocks_;
  return use;
}

const char* SetSteadyHeap(bool keepDefaults) {
  if (keepDefaults) return "glibc defaults (dynamic mmap and trim thresholds)";
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  return "steady: no trimming, blocks from 128 KiB mapped";
}

void* CountingCrtAllocator::Malloc(size_t size) {
  if (size == 0) return nullptr;
  void* block = std::malloc(size);
  CountCrt(block, 1);
  return block;
}

void* CountingCrtAllocator::Realloc(void* block, size_t /*oldSize*/, size_t newSize) {
  if (newSize == 0) {
    Free(block);
    return nullptr;
  }
  // Count as a free and a new block; a failed realloc keeps the old one.
  const int64_t oldBytes = block != nullptr ? static_cast<int64_t>(Platform::UsableSize(block)) : 0;
  void* moved = std::realloc(block, newSize);
  if (moved == nullptr) return nullptr;
  if (counts.metering) {
    counts.crtBytes += static_cast<int64_t>(Platform::UsableSize(moved)) - oldBytes;
    if (block == nullptr) ++counts.crtBlocks;
  }
  return moved;
}

void CountingCrtAllocator::Free(void* block) {
  CountCrt(block, -1);
  std::free(block);
}

}  // namespace Tesk::Bench

// The program's global allocation functions: the C heap, counted while a
// HeapMeter runs. Over-aligned forms are left to the runtime (unused here).
void* operator new(std::size_t size) { return Tesk::Bench::NewBlock(size); }
void* operator new[](std::size_t size) { return Tesk::Bench::NewBlock(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Tesk::Bench::NewBlock(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Tesk::Bench::NewBlock(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { Tesk::Bench::DeleteBlock(block); }
void operator delete[](void* block) noexcept { Tesk::Bench::DeleteBlock(block); }
void operator delete(void* block, std::size_t) noexcept { Tesk::Bench::DeleteBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { Tesk::Bench::DeleteBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Tesk::Bench::DeleteBlock(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Tesk::Bench::DeleteBlock(block);
}
