// The console log targets: standard error, standard output and the debugger
// console. Each formats a record with its line format and writes the line in one
// piece under its own output lock, so lines from different threads never mix.
#pragma once

#include <atomic>
#include <cstddef>

#include "diagnostics/log_target.h"
#include "platform/platform.h"

namespace Tesk {

// The base of the console targets. A derived class supplies WriteLine and
// Flush; its destructor must call Detach() first (see LogTarget).
class BaseConsoleLogTarget : public LogTarget {
 public:
  ~BaseConsoleLogTarget() override;

  [[nodiscard]] const char* Name() const override;
  // Formats the record with LineFormat() and passes the line to WriteLine.
  bool Write(const LogRecord& record) override;
  // Pushes buffered output out.
  virtual void Flush() = 0;

 protected:
  explicit BaseConsoleLogTarget(const LogTargetSettings& initial);
  // Writes one NUL-terminated line of `length` bytes, ending in a line feed.
  // Called under the output lock.
  virtual void WriteLine(const char* line, size_t length) = 0;
  // Serialises output; a leaf lock (taken last, released before returning).
  Platform::Lock& OutputLock() { return outputLock_; }

 private:
  Platform::Lock outputLock_;
};

// Standard error: "#E(#T): #L| #M", group DBG only, GEN excluded.
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  [[nodiscard]] const char* Name() const override;
  void Flush() override;

 protected:
  void WriteLine(const char* line, size_t length) override;
};

// Standard output: "#M", group GEN only, DBG excluded. Buffered unless the
// flush-each-line flag is set.
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  [[nodiscard]] const char* Name() const override;
  void Flush() override;
  void SetFlushEachLine(bool flush) { flushEachLine_.store(flush, std::memory_order_relaxed); }
  [[nodiscard]] bool FlushEachLine() const {
    return flushEachLine_.load(std::memory_order_relaxed);
  }

 protected:
  void WriteLine(const char* line, size_t length) override;

 private:
  std::atomic<bool> flushEachLine_{false};
};

// The debugger's output (nothing happens where there is none):
// "#E(#T): #L| #M", group DBG only.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  [[nodiscard]] const char* Name() const override;
  void Flush() override {}

 protected:
  void WriteLine(const char* line, size_t length) override;
};

}  // namespace Tesk
