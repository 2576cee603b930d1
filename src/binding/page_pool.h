// PagePool: the process-wide source of the 4096-byte pages that value trees
// carve their small blocks from. It reserves 64 KiB regions from the system,
// cuts each into 16 pages, and keeps regions whose pages are all back for
// reuse, up to 256 of them (16 MiB); further empty regions go back to the
// system. Trees built and dropped again and again thus cost no system calls.
//
// Threads: every operation is safe from any thread (one lock).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tesk {

inline constexpr size_t kBindingPageSize = 4096;

struct PagePoolStatistics {
  uint32_t pagesInUse;       // taken and not yet returned
  uint32_t regionsReserved;  // regions held from the system, the empty ones included
  uint32_t emptyRegions;     // regions kept for reuse, at most 256
};

namespace PagePool {

// A zero-filled-or-reused 4096-byte page aligned to 4096; nullptr when the
// system refuses memory.
[[nodiscard]] void* TakePage();
// Gives back a page from TakePage.
void ReturnPage(void* page);
// Gives back several pages under one lock.
void ReturnPages(void* const* pages, size_t count);
[[nodiscard]] PagePoolStatistics Statistics();

}  // namespace PagePool
}  // namespace Tesk
