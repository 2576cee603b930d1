#include "diagnostics/console_log_targets.h"

#include <cstdio>
#include <mutex>

#include "diagnostics/line_format.h"

namespace Tesk {
namespace {

constexpr const char* kConsoleLineFormat = "#E(#T): #L| #M";

}  // namespace

BaseConsoleLogTarget::BaseConsoleLogTarget(const LogTargetSettings& initial) : LogTarget(initial) {}

BaseConsoleLogTarget::~BaseConsoleLogTarget() { Detach(); }

const char* BaseConsoleLogTarget::Name() const { return "BaseConsoleLogTarget"; }

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
  LogLineBuffer line;
  const size_t length = FormatLogLine(LineFormat(), record, line);
  std::lock_guard<Platform::Lock> guard(outputLock_);
  WriteLine(line.data(), length);
  return true;
}

StdErrLogTarget::StdErrLogTarget()
    : BaseConsoleLogTarget({.level = kLogLevelWarn,
                            .includeMask = kLogGroupDbg,
                            .excludeMask = kLogGroupGen,
                            .lineFormat = kConsoleLineFormat}) {}

StdErrLogTarget::~StdErrLogTarget() { Detach(); }

const char* StdErrLogTarget::Name() const { return "StdErrLogTarget"; }

void StdErrLogTarget::Flush() {
  std::lock_guard<Platform::Lock> guard(OutputLock());
  std::fflush(stderr);
}

void StdErrLogTarget::WriteLine(const char* line, size_t length) {
  std::fwrite(line, 1, length, stderr);
}

StdOutLogTarget::StdOutLogTarget()
    : BaseConsoleLogTarget({.level = kLogLevelWarn,
                            .includeMask = kLogGroupGen,
                            .excludeMask = kLogGroupDbg,
                            .lineFormat = "#M"}) {}

StdOutLogTarget::~StdOutLogTarget() { Detach(); }

const char* StdOutLogTarget::Name() const { return "StdOutLogTarget"; }

void StdOutLogTarget::Flush() {
  std::lock_guard<Platform::Lock> guard(OutputLock());
  std::fflush(stdout);
}

void StdOutLogTarget::WriteLine(const char* line, size_t length) {
  std::fwrite(line, 1, length, stdout);
  if (FlushEachLine()) std::fflush(stdout);
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget()
    : BaseConsoleLogTarget({.level = kLogLevelWarn,
                            .includeMask = kLogGroupDbg,
                            .excludeMask = 0,
                            .lineFormat = kConsoleLineFormat}) {}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Detach(); }

const char* DebuggerConsoleLogTarget::Name() const { return "DebuggerConsoleLogTarget"; }

void DebuggerConsoleLogTarget::WriteLine(const char* line, size_t) {
  Platform::DebuggerOutput(line);
}

}  // namespace Tesk
