#include "binding/page_pool.h"

#include <mutex>
#include <new>

#include "diagnostics/sdk_allocator.h"
#include "platform/platform.h"

namespace Tesk::PagePool {
namespace {

constexpr uint32_t kPagesPerRegion = Platform::kRegionSize / kBindingPageSize;
static_assert(kPagesPerRegion == 16);
constexpr uint16_t kAllPagesFree = 0xFFFF;
// Empty regions kept for reuse (16 MiB): a large tree dropped and built again
// then costs no system calls and no freshly zeroed pages.
constexpr uint32_t kMaxEmptyRegions = 256;

// Book-keeping of one region, kept outside the region so that every page of it
// is usable. Regions with free pages are chained in a doubly linked list.
struct Region {
  uintptr_t base;
  uint16_t freeMask;  // bit i: page i is free
  Region* previous;
  Region* next;
  Region* hashNext;
};

struct Pool {
  Platform::Lock lock;
  Region* withFreePages = nullptr;
  // Regions by base address: a small chained hash table, grown by doubling.
  Region** buckets = nullptr;
  uint32_t bucketCount = 0;
  uint32_t regionCount = 0;
  uint32_t pagesInUse = 0;
  uint32_t emptyRegions = 0;
};

// Never destroyed: pages may be returned while the process shuts down.
Pool& ThePool() {
  alignas(Pool) static unsigned char storage[sizeof(Pool)];
  static Pool* pool = new (storage) Pool();
  return *pool;
}

uint32_t BucketOf(const Pool& pool, uintptr_t base) {
  const uint32_t key = static_cast<uint32_t>(base / Platform::kRegionSize) * 2654435761u;
  return key & (pool.bucketCount - 1);
}

bool GrowBuckets(Pool& pool) {
  const uint32_t count = pool.bucketCount == 0 ? 16 : pool.bucketCount * 2;
  auto** buckets = static_cast<Region**>(Memory::Allocate(count * sizeof(Region*)));
  if (buckets == nullptr) return false;
  for (uint32_t i = 0; i < count; ++i) buckets[i] = nullptr;
  Region** old = pool.buckets;
  const uint32_t oldCount = pool.bucketCount;
  pool.buckets = buckets;
  pool.bucketCount = count;
  for (uint32_t i = 0; i < oldCount; ++i) {
    for (Region* region = old[i]; region != nullptr;) {
      Region* next = region->hashNext;
      const uint32_t bucket = BucketOf(pool, region->base);
      region->hashNext = pool.buckets[bucket];
      pool.buckets[bucket] = region;
      region = next;
    }
  }
  Memory::Free(old);
  return true;
}

Region* FindRegion(const Pool& pool, uintptr_t base) {
  for (Region* region = pool.buckets[BucketOf(pool, base)]; region != nullptr;
       region = region->hashNext) {
    if (region->base == base) return region;
  }
  return nullptr;
}

void LinkFree(Pool& pool, Region* region) {
  region->previous = nullptr;
  region->next = pool.withFreePages;
  if (pool.withFreePages != nullptr) pool.withFreePages->previous = region;
  pool.withFreePages = region;
}

void UnlinkFree(Pool& pool, Region* region) {
  if (region->previous != nullptr) region->previous->next = region->next;
  if (region->next != nullptr) region->next->previous = region->previous;
  if (pool.withFreePages == region) pool.withFreePages = region->next;
  region->previous = region->next = nullptr;
}

Region* ReserveRegion(Pool& pool) {
  if ((pool.regionCount + 1) * 2 > pool.bucketCount && !GrowBuckets(pool)) return nullptr;
  auto* region = static_cast<Region*>(Memory::Allocate(sizeof(Region)));
  if (region == nullptr) return nullptr;
  void* memory = Platform::ReserveRegion(Platform::kRegionSize);
  if (memory == nullptr) {
    Memory::Free(region);
    return nullptr;
  }
  *region = Region{reinterpret_cast<uintptr_t>(memory), kAllPagesFree, nullptr, nullptr, nullptr};
  const uint32_t bucket = BucketOf(pool, region->base);
  region->hashNext = pool.buckets[bucket];
  pool.buckets[bucket] = region;
  ++pool.regionCount;
  ++pool.emptyRegions;
  LinkFree(pool, region);
  return region;
}

void ReleaseRegion(Pool& pool, Region* region) {
  UnlinkFree(pool, region);
  Region** link = &pool.buckets[BucketOf(pool, region->base)];
  while (*link != region) link = &(*link)->hashNext;
  *link = region->hashNext;
  Platform::ReleaseRegion(reinterpret_cast<void*>(region->base), Platform::kRegionSize);
  Memory::Free(region);
  --pool.regionCount;
  --pool.emptyRegions;
}

}  // namespace

void* TakePage() {
  Pool& pool = ThePool();
  std::lock_guard<Platform::Lock> guard(pool.lock);
  Region* region = pool.withFreePages;
  if (region == nullptr && (region = ReserveRegion(pool)) == nullptr) return nullptr;
  if (region->freeMask == kAllPagesFree) --pool.emptyRegions;
  const int index = __builtin_ctz(region->freeMask);
  region->freeMask = static_cast<uint16_t>(region->freeMask & ~(1u << index));
  if (region->freeMask == 0) UnlinkFree(pool, region);
  ++pool.pagesInUse;
  return reinterpret_cast<void*>(region->base + static_cast<uintptr_t>(index) * kBindingPageSize);
}

namespace {

void ReturnPageLocked(Pool& pool, void* page) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(page);
  const uintptr_t base = address & ~(uintptr_t{Platform::kRegionSize} - 1);
  Region* region = FindRegion(pool, base);
  if (region == nullptr) return;
  const uint32_t index = static_cast<uint32_t>((address - base) / kBindingPageSize);
  if (region->freeMask == 0) LinkFree(pool, region);
  region->freeMask = static_cast<uint16_t>(region->freeMask | (1u << index));
  --pool.pagesInUse;
  if (region->freeMask != kAllPagesFree) return;
  ++pool.emptyRegions;
  if (pool.emptyRegions > kMaxEmptyRegions) ReleaseRegion(pool, region);
}

}  // namespace

void ReturnPage(void* page) {
  if (page == nullptr) return;
  Pool& pool = ThePool();
  std::lock_guard<Platform::Lock> guard(pool.lock);
  ReturnPageLocked(pool, page);
}

void ReturnPages(void* const* pages, size_t count) {
  if (count == 0) return;
  Pool& pool = ThePool();
  std::lock_guard<Platform::Lock> guard(pool.lock);
  for (size_t i = 0; i < count; ++i) {
    if (pages[i] != nullptr) ReturnPageLocked(pool, pages[i]);
  }
}

PagePoolStatistics Statistics() {
  Pool& pool = ThePool();
  std::lock_guard<Platform::Lock> guard(pool.lock);
  return {pool.pagesInUse, pool.regionCount, pool.emptyRegions};
}

}  // namespace Tesk::PagePool
