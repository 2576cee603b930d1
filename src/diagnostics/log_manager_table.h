// The log manager as one table of plain functions, for a module that reaches
// the process's log through a single pointer, as a host reaches a plug-in.
// The slots are those of LogManager and the line formatting of line_format.h,
// in a fixed order; new slots are only ever appended, and a caller checks
// interfaceVersion before using a slot of a later version.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "diagnostics/log_types.h"

namespace Tesk {

inline constexpr int32_t kLogManagerInterfaceVersion = 1;

// Functions that write text write at most `capacity` bytes into `out`, the
// last one a NUL (nothing when `capacity` is 0), cutting the text to fit, and
// return the length written without the NUL. A null text argument counts as
// "". Sinks are the tables of LogTarget::Sink(); a null sink is ignored. No
// function throws.
struct LogManagerTable {
  int32_t (*interfaceVersion)();  // kLogManagerInterfaceVersion
  void (*acquireReference)();     // creates the manager on the first reference
  void (*releaseReference)();     // the last release destroys it
  void (*setMinimumLevel)(int32_t level);
  int32_t (*getMinimumLevel)();
  void (*setExcludedGroups)(uint64_t mask);
  uint64_t (*getExcludedGroups)();
  void (*suspendOutput)();
  void (*resumeOutput)();
  void (*setReservedFlag)();  // read by no output path
  void (*clearReservedFlag)();
  void (*attachSink)(LogSink* sink);
  void (*detachSink)(LogSink* sink);
  LogSink* (*findSink)(const char* name);  // an attached sink by exact name, or null
  LogSink* (*standardOutputSink)();
  LogSink* (*standardErrorSink)();
  LogSink* (*debuggerConsoleSink)();
  uint64_t (*registerGroup)(const char* name);  // 0 when every group is taken
  // The names of the set bits from bit 0 upward, joined by ";".
  size_t (*groupNames)(uint64_t mask, char* out, size_t capacity);
  // One line of `record` by the line format `format`, ending in a line feed.
  size_t (*formatLine)(const char* format, const LogRecord* record, char* out, size_t capacity);
  const char* (*levelName)(int32_t level);  // never null
  const char* (*executableName)();          // never null
  void (*localTime)(LogRecord* record);     // sets the seven time fields
  // "%04d-%02d-%02dT%02d:%02d:%02d.%03d" of the record's time.
  size_t (*formatTime)(const LogRecord* record, char* out, size_t capacity);
  // "%04d-%02d-%02dT%02d-%02d-%02d", for file names.
  size_t (*formatFileTime)(const LogRecord* record, char* out, size_t capacity);
  void (*logMessageV)(int32_t level, uint64_t groupMask, const char* format, va_list arguments);
};

// This module's table: static storage, never null.
[[nodiscard]] const LogManagerTable* GetLogManagerTable();

}  // namespace Tesk
