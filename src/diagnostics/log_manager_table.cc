#include "diagnostics/log_manager_table.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/line_format.h"
#include "diagnostics/log_manager.h"
#include "diagnostics/log_target.h"

namespace Tesk {
namespace {

std::string_view TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

size_t CopyOut(std::string_view text, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  const size_t length = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
  return length;
}

LogSink* SinkOf(LogTarget* target) { return target != nullptr ? target->Sink() : nullptr; }

// For a record's time: written into a buffer of the format's own size first,
// so that a small `out` is cut rather than refused.
template <size_t (*FormatTime)(const LogRecord&, std::span<char>)>
size_t FormatTimeInto(const LogRecord* record, char* out, size_t capacity) {
  if (record == nullptr) return CopyOut({}, out, capacity);
  char text[64];
  const size_t length = FormatTime(*record, std::span<char>(text));
  return CopyOut({text, length}, out, capacity);
}

constexpr LogManagerTable kTable = {
    [] { return kLogManagerInterfaceVersion; },
    [] { LogManager::AcquireReference(); },
    [] { LogManager::ReleaseReference(); },
    [](int32_t level) { LogManager::SetMinimumLevel(level); },
    [] { return LogManager::MinimumLevel(); },
    [](uint64_t mask) { LogManager::SetExcludedGroups(mask); },
    [] { return LogManager::ExcludedGroups(); },
    [] { LogManager::SuspendOutput(); },
    [] { LogManager::ResumeOutput(); },
    [] { LogManager::SetReservedFlag(); },
    [] { LogManager::ClearReservedFlag(); },
    [](LogSink* sink) {
      if (LogTarget* target = LogTarget::FromSink(sink)) LogManager::AttachSink(*target);
    },
    [](LogSink* sink) {
      if (LogTarget* target = LogTarget::FromSink(sink)) LogManager::DetachSink(*target);
    },
    [](const char* name) { return SinkOf(LogManager::FindSink(TextOrEmpty(name))); },
    [] { return SinkOf(LogManager::StandardOutputSink()); },
    [] { return SinkOf(LogManager::StandardErrorSink()); },
    [] { return SinkOf(LogManager::DebuggerConsoleSink()); },
    [](const char* name) { return LogManager::RegisterGroup(TextOrEmpty(name)); },
    [](uint64_t mask, char* out, size_t capacity) {
      try {
        return CopyOut(LogGroupNames(mask), out, capacity);
      } catch (...) {
        return CopyOut({}, out, capacity);  // out of memory
      }
    },
    [](const char* format, const LogRecord* record, char* out, size_t capacity) {
      if (record == nullptr) return CopyOut({}, out, capacity);
      LogLineBuffer line;
      const size_t length = FormatLogLine(TextOrEmpty(format), *record, line);
      return CopyOut({line.data(), length}, out, capacity);
    },
    [](int32_t level) { return LogManager::LevelName(level); },
    [] { return LogManager::ExecutableName(); },
    [](LogRecord* record) {
      if (record != nullptr) LogManager::FillLocalTime(*record);
    },
    &FormatTimeInto<&FormatLogTime>,
    &FormatTimeInto<&FormatLogFileTime>,
    [](int32_t level, uint64_t groupMask, const char* format, va_list arguments) {
      LogMessageV(level, groupMask, format, arguments);
    },
};

}  // namespace

const LogManagerTable* GetLogManagerTable() { return &kTable; }

}  // namespace Tesk
