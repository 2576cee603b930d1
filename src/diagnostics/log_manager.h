// The process-wide log manager and LogMessage, the one entry through which the
// SDK logs. The manager filters messages by level and group and dispatches them
// to the attached log targets.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/log_target.h"
#include "diagnostics/log_types.h"

namespace Tesk {

// Logs a printf-formatted message at `level` with the groups of `groupMask`.
// Any thread; safe during static initialisation and destruction. Dropped when
// output is suspended, when the level is below the minimum level, or when the
// mask shares a bit with the excluded groups. Text longer than 4095 bytes is
// cut. A text that may hold "%" is passed as the argument of "%s". Creates the
// manager when none exists. Never throws.
void LogMessage(int32_t level, uint64_t groupMask, const char* format, ...) TESK_PRINTF_LIKE(3, 4);
void LogMessageV(int32_t level, uint64_t groupMask, const char* format, va_list arguments)
    TESK_PRINTF_LIKE(3, 0);

// The executable's file name from its path: the part after the last "\" (and,
// outside Windows, after the last "/"); the whole path when it has none.
[[nodiscard]] std::string_view ExecutableNameFromPath(std::string_view path);

// The operations on the one log manager of the process.
//
// The manager lives on the heap while at least one reference is held (see
// LogManagerReference) and is also created on demand by any operation below
// that needs it (a message, an attach, a setter). The last release detaches
// every attached target, last attached first, destroys the built-in targets and
// frees the manager; a later operation creates a fresh one with the defaults.
// The group table, the level names and the executable name are process-wide
// and outlive every manager.
//
// All operations are thread-safe. They take the manager's lock, which exists
// for the whole process, so a call racing with the last release never touches
// freed state.
class LogManager {
 public:
  LogManager() = delete;

  // References. A release without a reference is ignored.
  static void AcquireReference();
  static void ReleaseReference();
  [[nodiscard]] static int32_t ReferenceCount();
  // Whether a manager exists now (it may be created or destroyed right after).
  [[nodiscard]] static bool Exists();

  // Messages below the minimum level (default kLogLevelWarn) are dropped.
  static void SetMinimumLevel(int32_t level);
  [[nodiscard]] static int32_t MinimumLevel();
  // Messages sharing a bit with these groups are dropped (default kLogGroupXtr).
  static void SetExcludedGroups(uint64_t mask);
  [[nodiscard]] static uint64_t ExcludedGroups();
  // While suspended every message is dropped.
  static void SuspendOutput();
  static void ResumeOutput();
  [[nodiscard]] static bool IsSuspended();
  // A flag kept for the host's sake; no output path reads it.
  static void SetReservedFlag();
  static void ClearReservedFlag();
  [[nodiscard]] static bool ReservedFlag();

  // Same as target.Attach() and target.Detach().
  static void AttachSink(LogTarget& target);
  static void DetachSink(LogTarget& target);
  // The first attached target whose Name() equals `name` byte for byte, or
  // nullptr. The target stays owned by whoever created it.
  [[nodiscard]] static LogTarget* FindSink(std::string_view name);

  // The built-in targets, owned by the manager: valid while the caller holds a
  // reference. nullptr only when the manager could not be created. Standard
  // error and the debugger console are attached when the manager is created,
  // standard output is not.
  [[nodiscard]] static StdOutLogTarget* StandardOutputSink();
  [[nodiscard]] static StdErrLogTarget* StandardErrorSink();
  [[nodiscard]] static DebuggerConsoleLogTarget* DebuggerConsoleSink();

  // The mask of the group named by the first three characters of `name`:
  // registered on first use (from entry 8 on), the same bit ever after. Returns
  // 0 when all 64 entries are taken.
  [[nodiscard]] static uint64_t RegisterGroup(std::string_view name);
  // The three-letter name of group `bit`; "???" when unregistered or out of
  // range. Never null; static storage.
  [[nodiscard]] static const char* GroupName(int bit);

  // "  OKAY", "  WARN", " ERROR", "ALWAYS"; "   ???" for other values. Never null.
  [[nodiscard]] static const char* LevelName(int32_t level);
  // The executable's file name, or "<unknown>" until a manager has read it.
  // Never null; valid for the rest of the process.
  [[nodiscard]] static const char* ExecutableName();
  // Sets the seven time fields of `record` to the current local time.
  static void FillLocalTime(LogRecord& record);

 private:
  friend class LogTarget;
  // Called by LogTarget under the target's own lock.
  static void AttachTarget(LogTarget& target);
  static void DetachTarget(LogTarget& target);
};

// Holds one reference on the log manager for its lifetime.
class LogManagerReference {
 public:
  LogManagerReference() { LogManager::AcquireReference(); }
  ~LogManagerReference() { LogManager::ReleaseReference(); }
  LogManagerReference(const LogManagerReference&) = delete;
  LogManagerReference& operator=(const LogManagerReference&) = delete;
};

}  // namespace Tesk
