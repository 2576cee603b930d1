// POSIX implementation of the platform layer.
// 64-bit time_t on 32-bit glibc: the clock must not wrap in 2038.
#define _FILE_OFFSET_BITS 64
#define _TIME_BITS 64

#include "platform/platform.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

namespace Tesk::Platform {

void* ReserveRegion(size_t size) {
  // mmap only guarantees page alignment: over-reserve and trim to 64 KiB.
  const size_t span = size + kRegionSize;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kRegionSize - 1) & ~(uintptr_t{kRegionSize} - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + span;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  return reinterpret_cast<void*>(aligned);
}

void ReleaseRegion(void* region, size_t size) {
  if (region != nullptr) munmap(region, size);
}

size_t UsableSize(void* block) { return malloc_usable_size(block); }

static_assert(sizeof(time_t) == 8);
static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);

Lock::Lock() { pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr); }
Lock::~Lock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
bool Lock::try_lock() {
  return pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(storage_)) == 0;
}

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const time_t seconds = now.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

int64_t PerformanceCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerformanceFrequency() { return 1000000000; }

int64_t UtcNowSeconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec);
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

void DebuggerOutput(const char*) {}

void* OpenLibrary(const std::string& path, bool keepMapped, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
  if (library == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return library;
}

void* LibrarySymbol(void* library, const char* name) {
  return library != nullptr ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

void EndProcessNow() {
  std::fflush(nullptr);
  std::abort();
}

}  // namespace Tesk::Platform
