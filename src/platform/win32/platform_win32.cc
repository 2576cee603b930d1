// Windows implementation of the platform layer.
#include "platform/platform.h"

#include <malloc.h>
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>

namespace Tesk::Platform {

void* ReserveRegion(size_t size) {
  // VirtualAlloc's allocation granularity is 64 KiB, which gives the alignment.
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, size_t) {
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}

size_t UsableSize(void* block) { return _msize(block); }

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8);

Lock::Lock() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
Lock::~Lock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
bool Lock::try_lock() {
  return TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)) != 0;
}

LocalTime CurrentLocalTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

int64_t PerformanceCounter() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

int64_t PerformanceFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

int64_t UtcNowSeconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // FILETIME counts 100 ns from 1601-01-01.
  return ticks / 10000000 - 11644473600LL;
}

std::string ExecutablePath() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(path, length);
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

void* OpenLibrary(const std::string& path, bool, std::string& error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void EndProcessNow() {
  // The C runtime may buffer standard error when it is a pipe: the last words
  // written before the end must not be lost.
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), 3);
  ExitProcess(3);
}

}  // namespace Tesk::Platform
