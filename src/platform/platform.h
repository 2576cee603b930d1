// The operating-system layer: the only interface through which the SDK reaches
// the kernel and the runtime library. Implementations live in posix/ and win32/;
// no other folder includes windows.h or POSIX headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tesk::Platform {

// --- Memory -------------------------------------------------------------------

// Size of the address-space regions that ReserveRegion hands out.
inline constexpr size_t kRegionSize = 64 * 1024;

// Reserves and commits `size` bytes of zeroed, read-write memory aligned to at
// least 64 KiB. Returns nullptr when the system refuses. Thread-safe.
[[nodiscard]] void* ReserveRegion(size_t size);
// Releases a region returned by ReserveRegion with the same size.
void ReleaseRegion(void* region, size_t size);

// The usable size of a block from the runtime library's heap (malloc).
// `block` must not be null.
[[nodiscard]] size_t UsableSize(void* block);

// --- Locks --------------------------------------------------------------------

// A mutual-exclusion lock (critical section or pthread mutex). Whether the
// holder may take it again differs by system: never do. Meets the standard
// Lockable requirements, so std::lock_guard works with it.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();
  [[nodiscard]] bool try_lock();

 private:
  alignas(8) unsigned char storage_[64];
};

// --- Time ---------------------------------------------------------------------

struct LocalTime {
  int year;   // e.g. 2026
  int month;  // 1..12
  int day;    // 1..31
  int hour;
  int minute;
  int second;
  int millisecond;
};

// The current local wall-clock time with milliseconds.
[[nodiscard]] LocalTime CurrentLocalTime();

// The high-resolution performance counter and its ticks per second.
[[nodiscard]] int64_t PerformanceCounter();
[[nodiscard]] int64_t PerformanceFrequency();

// Seconds since 1970-01-01T00:00:00Z, 64-bit on every target.
[[nodiscard]] int64_t UtcNowSeconds();

// A broken-down UTC calendar time; fields as in struct tm, but with the real
// year and a 1-based month.
struct UtcCalendarTime {
  int64_t year;
  int month;  // 1..12
  int day;    // 1..31
  int hour;
  int minute;
  int second;
};

// Seconds since the epoch for a UTC calendar time, computed in 64 bits (no 2038
// limit on 32-bit targets). Out-of-range fields are normalised as timegm does.
[[nodiscard]] int64_t UtcSecondsFromCalendar(const UtcCalendarTime& time);

// --- Process and threads --------------------------------------------------------

// The full path of the running executable, or an empty text when unknown.
[[nodiscard]] std::string ExecutablePath();

// The identifier of the calling thread as the system numbers it.
[[nodiscard]] uint32_t CurrentThreadId();

// Writes a NUL-terminated text to the debugger's output (no-op on Linux).
void DebuggerOutput(const char* text);

// --- Shared libraries ------------------------------------------------------------

// Loads the shared library at `path` (dlopen with RTLD_NOW | RTLD_LOCAL, or
// LoadLibrary). `keepMapped`: it stays in memory after CloseLibrary (on
// Windows a DLL is freed when its last reference goes). Null on failure, with
// the system's reason in `error`.
[[nodiscard]] void* OpenLibrary(const std::string& path, bool keepMapped, std::string& error);
// The address of an exported symbol, or null.
[[nodiscard]] void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

// Ends the process at once, without running exit handlers or destructors
// (buffered standard streams are flushed first).
[[noreturn]] void EndProcessNow();

}  // namespace Tesk::Platform
