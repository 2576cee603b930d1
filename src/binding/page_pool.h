// PagePool: the process-wide source of the 4096-byte pages that value trees
// carve their small blocks from. It reserves 64 KiB regions from the system,
// cuts each into 16 pages, and releases a region once all its pages are back
// (keeping one empty region in reserve, so that a tree built and dropped in a
// loop does not reserve and release a region each time).
//
// Threads: every operation is safe from any thread (one lock).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tesk {

inline constexpr size_t kBindingPageSize = 4096;

struct PagePoolStatistics {
  uint32_t pagesInUse;       // taken and not yet returned
  uint32_t regionsReserved;  // regions held from the system, the reserve included
};

namespace PagePool {

// A zero-filled-or-reused 4096-byte page aligned to 4096; nullptr when the
// system refuses memory.
[[nodiscard]] void* TakePage();
// Gives back a page from TakePage.
void ReturnPage(void* page);
[[nodiscard]] PagePoolStatistics Statistics();

}  // namespace PagePool
}  // namespace Tesk
