#include "diagnostics/log_target.h"

#include <mutex>
#include <type_traits>

#include "diagnostics/log_manager.h"

namespace Tesk {
namespace {

LogTarget& Target(LogSink* sink) { return *LogTarget::FromSink(sink); }

constexpr LogSink kSinkFunctions = {
    [](LogSink*) { return kLogSinkInterfaceVersion; },
    [](LogSink* sink, int32_t level) { Target(sink).SetLevel(level); },
    [](LogSink* sink) { return Target(sink).Level(); },
    [](LogSink* sink, uint64_t includeMask, uint64_t excludeMask) {
      Target(sink).SetGroupMasks(includeMask, excludeMask);
    },
    [](LogSink* sink) { return Target(sink).IncludeMask(); },
    [](LogSink* sink) { return Target(sink).ExcludeMask(); },
    [](LogSink* sink) { return Target(sink).Name(); },
    [](LogSink* sink) { return Target(sink).LineFormat(); },
    [](LogSink* sink) { Target(sink).Attach(); },
    [](LogSink* sink) { Target(sink).Detach(); },
    [](LogSink* sink) { return Target(sink).IsAttached(); },
    [](LogSink* sink, const LogRecord* record) { return Target(sink).Write(*record); },
};

}  // namespace

LogTarget::LogTarget(const LogTargetSettings& initial)
    : sink_{kSinkFunctions, this},
      level_(initial.level),
      include_(initial.includeMask & ~initial.excludeMask),
      exclude_(initial.excludeMask),
      lineFormat_(initial.lineFormat) {}

LogTarget::~LogTarget() { LogTarget::Detach(); }

void LogTarget::Detach() {
  std::lock_guard<Platform::Lock> guard(lock_);
  LogManager::DetachTarget(*this);
}

const char* LogTarget::Name() const { return "LogTarget"; }

const char* LogTarget::LineFormat() const { return lineFormat_.c_str(); }

void LogTarget::Attach() {
  std::lock_guard<Platform::Lock> guard(lock_);
  LogManager::AttachTarget(*this);
}

void LogTarget::SetGroupMasks(uint64_t includeMask, uint64_t excludeMask) {
  exclude_.store(excludeMask, std::memory_order_relaxed);
  include_.store(includeMask & ~excludeMask, std::memory_order_relaxed);
}

void LogTarget::Configure(const LogTargetSettings& settings) {
  std::lock_guard<Platform::Lock> guard(lock_);
  LogManager::DetachTarget(*this);
  SetLevel(settings.level);
  SetGroupMasks(settings.includeMask, settings.excludeMask);
  lineFormat_.assign(settings.lineFormat);
  LogManager::AttachTarget(*this);
}

LogTarget* LogTarget::FromSink(LogSink* sink) {
  static_assert(std::is_standard_layout_v<SinkSlot>);
  if (sink == nullptr) return nullptr;
  return reinterpret_cast<SinkSlot*>(sink)->owner;
}

}  // namespace Tesk
