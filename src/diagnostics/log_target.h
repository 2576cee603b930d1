// LogTarget: the base of every destination of log lines. The log manager hands
// each message that passes its filters to the attached targets, which filter
// again by level and group and write it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostics/log_types.h"
#include "platform/platform.h"

namespace Tesk {

struct LogManagerAccess;

// What Configure applies to a target, and what a derived target starts with.
struct LogTargetSettings {
  int32_t level = kLogLevelWarn;
  uint64_t includeMask = 0;  // 0: every group
  uint64_t excludeMask = 0;
  std::string_view lineFormat = "#D| #L| #G| #M";
};

// The abstract log target.
//
// Deriving: override Name() and Write(); pass the initial settings to the
// protected constructor. Contract for a derived target:
// - Write, Name, LineFormat and the level and mask getters are called by the
//   manager from whichever thread logs, while it holds its process-wide lock,
//   so calls are serialised across all targets. They must not attach, detach
//   or configure any target (that lock is not recursive); a message logged from
//   inside Write is dropped. Write should not throw; an exception is swallowed.
// - The destructor of every derived class that overrides Write must call
//   Detach() first: otherwise the manager may call Write on a half-destroyed
//   object while another thread logs. Detach is idempotent.
//
// Locks, always taken in this order: the target's own lock (Attach, Detach,
// Configure), then the manager's lock, then any lock a target takes inside
// Write. The setters and getters of level and masks take no lock.
class LogTarget {
 public:
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Removes the target from the manager; afterwards no Write call is in
  // progress or will begin. An override must call LogTarget::Detach().
  virtual void Detach();
  // Never null; valid as long as the target.
  [[nodiscard]] virtual const char* Name() const;
  // Never null; valid until the next Configure.
  [[nodiscard]] virtual const char* LineFormat() const;
  // Writes one record. Returns false when the target has no output.
  virtual bool Write(const LogRecord& record) = 0;

  // Adds the target to the manager's attached sinks (after the others), creating
  // the manager when none exists. Nothing happens when already attached.
  void Attach();
  [[nodiscard]] bool IsAttached() const { return attached_.load(std::memory_order_acquire); }

  void SetLevel(int32_t level) { level_.store(level, std::memory_order_relaxed); }
  [[nodiscard]] int32_t Level() const { return level_.load(std::memory_order_relaxed); }
  // Every excluded group is removed from the include mask.
  void SetGroupMasks(uint64_t includeMask, uint64_t excludeMask);
  [[nodiscard]] uint64_t IncludeMask() const { return include_.load(std::memory_order_relaxed); }
  [[nodiscard]] uint64_t ExcludeMask() const { return exclude_.load(std::memory_order_relaxed); }

  // Under the target's lock: detaches, applies level, masks and line format,
  // and attaches again (attaching a target that was not attached).
  void Configure(const LogTargetSettings& settings);

  // The target's plain function table, valid as long as the target.
  [[nodiscard]] LogSink* Sink() { return &sink_.table; }
  // The target behind a table from Sink(); nullptr for nullptr.
  [[nodiscard]] static LogTarget* FromSink(LogSink* sink);

 protected:
  explicit LogTarget(const LogTargetSettings& initial = {});

 private:
  friend struct LogManagerAccess;

  // Standard layout, so a LogSink* is also a pointer to its SinkSlot.
  struct SinkSlot {
    LogSink table;
    LogTarget* owner;
  };

  SinkSlot sink_;
  std::atomic<bool> attached_{false};  // written only under the manager's lock
  Platform::Lock lock_;
  std::atomic<int32_t> level_;
  std::atomic<uint64_t> include_;
  std::atomic<uint64_t> exclude_;
  std::string lineFormat_;  // changed only while detached, under lock_
};

}  // namespace Tesk
