// HeapMeter: the memory a data structure takes, measured the same way for the
// project's trees and for the peers beside them. While a meter is alive it
// counts the usable bytes of every block taken through the program's global
// operator new and through CountingCrtAllocator, and it reads the SDK
// allocator's counters; Read() sums what is live now
// and was not before. One meter at a time, on one thread (benchmarks only).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tesk::Bench {

struct HeapUse {
  int64_t operatorNewBytes = 0;  // global operator new (std::allocator, ...)
  int64_t crtBytes = 0;          // CountingCrtAllocator (a RapidJSON pool's chunks)
  int64_t sdkBytes = 0;          // Memory::Allocate
  int64_t heapBlocks = 0;        // live blocks of the three heaps

  [[nodiscard]] int64_t TotalBytes() const { return operatorNewBytes + crtBytes + sdkBytes; }
};

class HeapMeter {
 public:
  HeapMeter();
  ~HeapMeter();
  HeapMeter(const HeapMeter&) = delete;
  HeapMeter& operator=(const HeapMeter&) = delete;

  // What became live since the meter started.
  [[nodiscard]] HeapUse Read() const;

 private:
  int64_t sdkLiveBytes_;
  int64_t sdkLiveBlocks_;
};

// A base allocator with the interface RapidJSON's MemoryPoolAllocator expects
// of its BaseAllocator (that of rapidjson::CrtAllocator: the C heap), counting
// into the running HeapMeter.
class CountingCrtAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(size_t size);
  void* Realloc(void* block, size_t oldSize, size_t newSize);
  static void Free(void* block);
};

// Makes the C heap keep the memory freed to it (no trimming; blocks from
// 128 KiB on mapped, without glibc's adjustment of that bound), as in a
// long-running host process. With glibc's defaults, whether a peer's freed
// blocks come back as warm memory or as fresh pages that fault in depends on
// the order the benchmarks run in. Returns the policy in words for the report;
// `keepDefaults` leaves glibc's defaults and says so.
const char* SetSteadyHeap(bool keepDefaults);

}  // namespace Tesk::Bench
