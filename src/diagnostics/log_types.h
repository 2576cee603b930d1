// The vocabulary of logging: levels, predefined groups, the record a log target
// receives and the plain function table through which a target is reached.
#pragma once

#include <cstdint>

// Marks a printf-like function so that the compiler checks its arguments. The
// mingw runtime in use is the ANSI (gnu) one, not the Microsoft printf.
#ifndef TESK_PRINTF_LIKE
#if defined(__MINGW32__)
#define TESK_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define TESK_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif
#endif

namespace Tesk {

// Levels. Only these four exist; a message is written by a target when its level
// is at least the manager's minimum level and the target's level.
inline constexpr int32_t kLogLevelOkay = 0;    // printed "  OKAY"
inline constexpr int32_t kLogLevelWarn = 1;    // printed "  WARN"
inline constexpr int32_t kLogLevelError = 2;   // printed " ERROR"
inline constexpr int32_t kLogLevelAlways = 3;  // printed "ALWAYS"

// Group masks of the predefined groups (bit i is group i). Further groups are
// registered by name with LogManager::RegisterGroup.
inline constexpr uint64_t kLogGroupDbg = uint64_t{1} << 0;
inline constexpr uint64_t kLogGroupGen = uint64_t{1} << 1;
inline constexpr uint64_t kLogGroupXtr = uint64_t{1} << 2;
inline constexpr uint64_t kLogGroupPrf = uint64_t{1} << 3;
inline constexpr uint64_t kLogGroupMem = uint64_t{1} << 4;
inline constexpr uint64_t kLogGroupDsk = uint64_t{1} << 5;
inline constexpr uint64_t kLogGroupNet = uint64_t{1} << 6;
inline constexpr uint64_t kLogGroupTst = uint64_t{1} << 7;

// The number of groups a mask can name, predefined ones included.
inline constexpr int kLogGroupCount = 64;

// One message as a target receives it. `message` is NUL-terminated, at most 4095
// bytes, never null, and valid only for the duration of the Write call.
struct LogRecord {
  int32_t year;   // local time when the message was made
  int32_t month;  // 1..12
  int32_t day;    // 1..31
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
  int32_t level;
  uint64_t groupMask;  // 0: no group; passes every group test
  const char* message;
};

// The plain function table of a log sink. Every function takes the sink itself
// as its first argument. Texts returned by `name` and `lineFormat` are owned by
// the sink. The order of the slots is fixed.
struct LogSink {
  int32_t (*interfaceVersion)(LogSink* sink);  // returns 1
  void (*setLevel)(LogSink* sink, int32_t level);
  int32_t (*getLevel)(LogSink* sink);
  void (*setGroupMasks)(LogSink* sink, uint64_t includeMask, uint64_t excludeMask);
  uint64_t (*getIncludeMask)(LogSink* sink);
  uint64_t (*getExcludeMask)(LogSink* sink);
  const char* (*name)(LogSink* sink);
  const char* (*lineFormat)(LogSink* sink);
  void (*attach)(LogSink* sink);
  void (*detach)(LogSink* sink);
  bool (*isAttached)(LogSink* sink);
  bool (*write)(LogSink* sink, const LogRecord* record);  // false: no output
};

inline constexpr int32_t kLogSinkInterfaceVersion = 1;

}  // namespace Tesk
