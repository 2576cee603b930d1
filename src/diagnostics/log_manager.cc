#include "diagnostics/log_manager.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/log_target.h"
#include "platform/platform.h"

namespace Tesk {

// The manager's access to a target's attached flag, which it alone writes.
struct LogManagerAccess {
  static std::atomic<bool>& Attached(LogTarget& target) { return target.attached_; }
};

namespace {

// The state of one manager. Every member is guarded by ManagerLock().
struct ManagerState {
  std::vector<LogTarget*> sinks;  // attach order
  int32_t minimumLevel = kLogLevelWarn;
  uint64_t excludedGroups = kLogGroupXtr;
  bool suspended = false;
  bool reservedFlag = false;
  std::unique_ptr<StdErrLogTarget> standardError;
  std::unique_ptr<StdOutLogTarget> standardOutput;
  std::unique_ptr<DebuggerConsoleLogTarget> debuggerConsole;
};

// Locks that exist for the whole process: built in static storage on first use
// and never destroyed, so that a message logged while static objects are being
// destroyed still finds them intact.
template <typename Tag>
Platform::Lock& ImmortalLock() {
  alignas(Platform::Lock) static unsigned char storage[sizeof(Platform::Lock)];
  static Platform::Lock* const lock = new (storage) Platform::Lock();
  return *lock;
}
struct ManagerLockTag;
struct GroupLockTag;
Platform::Lock& ManagerLock() { return ImmortalLock<ManagerLockTag>(); }
Platform::Lock& GroupLock() { return ImmortalLock<GroupLockTag>(); }

// The current manager, guarded by ManagerLock().
constinit ManagerState* currentManager = nullptr;
constinit std::atomic<int32_t> referenceCount{0};

// Set while this thread dispatches a message, so that a target that logs from
// inside Write drops the message instead of deadlocking on the manager's lock.
// In ELF builds it takes a slot of the static TLS block even in a library a
// host loads at run time (one byte of the room the loader keeps for that):
// reached without __tls_get_addr, it has no dynamically allocated TLS block,
// whose record LeakSanitizer's exit-time scan of a loaded plug-in crashes on.
#if defined(__ELF__)
#define KTX_STATIC_TLS __attribute__((tls_model("initial-exec")))
#else
#define KTX_STATIC_TLS
#endif
constinit thread_local bool dispatching KTX_STATIC_TLS = false;
#undef KTX_STATIC_TLS

constexpr const char* kLevelNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr const char* kUnknownLevelName = "   ???";
constexpr const char* kUnknownGroupName = "???";
constexpr const char* kUnknownExecutableName = "<unknown>";

// Group table: entries up to lastUsedGroup are published and never change
// again; registration is serialised by GroupLock().
constexpr int kPredefinedGroupCount = 8;
constinit char groupNames[kLogGroupCount][4] = {"DBG", "GEN", "XTR", "PRF",
                                                "MEM", "DSK", "NET", "TST"};
constinit std::atomic<int> lastUsedGroup{kPredefinedGroupCount - 1};

// Written once, under ManagerLock(), before executableNameRead is set.
constexpr size_t kExecutableNameCapacity = 260;
constinit char executableName[kExecutableNameCapacity] = {};
constinit std::atomic<bool> executableNameRead{false};

void ReadExecutableNameLocked() {
  if (executableNameRead.load(std::memory_order_relaxed)) return;
  const std::string path = Platform::ExecutablePath();
  if (path.empty()) return;
  const std::string_view name = ExecutableNameFromPath(path);
  const size_t length = std::min(name.size(), kExecutableNameCapacity - 1);
  std::memcpy(executableName, name.data(), length);
  executableName[length] = '\0';
  executableNameRead.store(true, std::memory_order_release);
}

void AttachLocked(ManagerState& manager, LogTarget& target) {
  std::atomic<bool>& attached = LogManagerAccess::Attached(target);
  if (attached.load(std::memory_order_relaxed)) return;
  manager.sinks.push_back(&target);
  attached.store(true, std::memory_order_release);
}

// Returns the manager, creating it when none exists; nullptr when creation
// failed. Requires ManagerLock().
ManagerState* EnsureManagerLocked() {
  if (currentManager != nullptr) return currentManager;
  try {
    auto manager = std::make_unique<ManagerState>();
    manager->sinks.reserve(8);
    manager->standardError = std::make_unique<StdErrLogTarget>();
    manager->standardOutput = std::make_unique<StdOutLogTarget>();
    manager->debuggerConsole = std::make_unique<DebuggerConsoleLogTarget>();
    ReadExecutableNameLocked();
    // Nothing below throws: sinks has room for these two.
    AttachLocked(*manager, *manager->standardError);
    AttachLocked(*manager, *manager->debuggerConsole);
    currentManager = manager.release();
  } catch (...) {
    return nullptr;
  }
  return currentManager;
}

bool Passes(const LogTarget& sink, int32_t level, uint64_t groupMask) {
  if (level < sink.Level()) return false;
  if (groupMask == 0) return true;
  if ((groupMask & sink.ExcludeMask()) != 0) return false;
  const uint64_t include = sink.IncludeMask();
  return include == 0 || (groupMask & include) != 0;
}

}  // namespace

void LogMessage(int32_t level, uint64_t groupMask, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogMessageV(level, groupMask, format, arguments);
  va_end(arguments);
}

void LogMessageV(int32_t level, uint64_t groupMask, const char* format, va_list arguments) {
  if (dispatching) return;
  {
    std::lock_guard<Platform::Lock> guard(ManagerLock());
    const ManagerState* manager = EnsureManagerLocked();
    if (manager == nullptr || manager->suspended || level < manager->minimumLevel ||
        (groupMask & manager->excludedGroups) != 0) {
      return;
    }
  }

  // Formatting and the time stamp happen outside the lock.
  char text[4096];
  text[0] = '\0';
  if (format != nullptr && std::vsnprintf(text, sizeof text, format, arguments) < 0) text[0] = '\0';
  LogRecord record{};
  LogManager::FillLocalTime(record);
  record.level = level;
  record.groupMask = groupMask;
  record.message = text;

  std::lock_guard<Platform::Lock> guard(ManagerLock());
  // The manager may have been released since the check; the message goes with it.
  ManagerState* manager = currentManager;
  if (manager == nullptr) return;
  dispatching = true;
  for (LogTarget* sink : manager->sinks) {
    if (!Passes(*sink, level, groupMask)) continue;
    try {
      sink->Write(record);
    } catch (...) {
      // A target's failure must not reach the caller of LogMessage.
    }
  }
  dispatching = false;
}

std::string_view ExecutableNameFromPath(std::string_view path) {
#if defined(_WIN32)
  constexpr std::string_view kSeparators = "\\";
#else
  constexpr std::string_view kSeparators = "\\/";
#endif
  const size_t separator = path.find_last_of(kSeparators);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

void LogManager::AcquireReference() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  referenceCount.fetch_add(1, std::memory_order_relaxed);
  // A failed creation is retried by the next operation that needs the manager.
  (void)EnsureManagerLocked();
}

void LogManager::ReleaseReference() {
  ManagerState* retired = nullptr;
  {
    std::lock_guard<Platform::Lock> guard(ManagerLock());
    if (referenceCount.load(std::memory_order_relaxed) <= 0) return;
    if (referenceCount.fetch_sub(1, std::memory_order_relaxed) != 1) return;
    retired = currentManager;
    currentManager = nullptr;
    if (retired == nullptr) return;
    while (!retired->sinks.empty()) {
      LogManagerAccess::Attached(*retired->sinks.back()).store(false, std::memory_order_release);
      retired->sinks.pop_back();
    }
  }
  // Outside the lock: the built-in targets detach themselves as they go.
  delete retired;
}

int32_t LogManager::ReferenceCount() { return referenceCount.load(std::memory_order_relaxed); }

bool LogManager::Exists() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  return currentManager != nullptr;
}

void LogManager::SetMinimumLevel(int32_t level) {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->minimumLevel = level;
}

int32_t LogManager::MinimumLevel() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr ? manager->minimumLevel : kLogLevelWarn;
}

void LogManager::SetExcludedGroups(uint64_t mask) {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->excludedGroups = mask;
}

uint64_t LogManager::ExcludedGroups() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr ? manager->excludedGroups : kLogGroupXtr;
}

void LogManager::SuspendOutput() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->suspended = true;
}

void LogManager::ResumeOutput() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->suspended = false;
}

bool LogManager::IsSuspended() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr && manager->suspended;
}

void LogManager::SetReservedFlag() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->reservedFlag = true;
}

void LogManager::ClearReservedFlag() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (ManagerState* manager = EnsureManagerLocked()) manager->reservedFlag = false;
}

bool LogManager::ReservedFlag() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr && manager->reservedFlag;
}

void LogManager::AttachSink(LogTarget& target) { target.Attach(); }

void LogManager::DetachSink(LogTarget& target) { target.Detach(); }

LogTarget* LogManager::FindSink(std::string_view name) {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  if (manager == nullptr) return nullptr;
  for (LogTarget* sink : manager->sinks) {
    if (std::string_view(sink->Name()) == name) return sink;
  }
  return nullptr;
}

StdOutLogTarget* LogManager::StandardOutputSink() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr ? manager->standardOutput.get() : nullptr;
}

StdErrLogTarget* LogManager::StandardErrorSink() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr ? manager->standardError.get() : nullptr;
}

DebuggerConsoleLogTarget* LogManager::DebuggerConsoleSink() {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  const ManagerState* manager = EnsureManagerLocked();
  return manager != nullptr ? manager->debuggerConsole.get() : nullptr;
}

uint64_t LogManager::RegisterGroup(std::string_view name) {
  char key[3] = {};
  if (!name.empty()) std::memcpy(key, name.data(), std::min(name.size(), sizeof key));
  std::lock_guard<Platform::Lock> guard(GroupLock());
  const int last = lastUsedGroup.load(std::memory_order_relaxed);
  for (int entry = 0; entry <= last; ++entry) {
    if (std::memcmp(groupNames[entry], key, sizeof key) == 0) return uint64_t{1} << entry;
  }
  if (last + 1 >= kLogGroupCount) return 0;
  const int entry = last + 1;
  std::memcpy(groupNames[entry], key, sizeof key);
  groupNames[entry][3] = '\0';
  lastUsedGroup.store(entry, std::memory_order_release);
  return uint64_t{1} << entry;
}

const char* LogManager::GroupName(int bit) {
  if (bit < 0 || bit > lastUsedGroup.load(std::memory_order_acquire)) return kUnknownGroupName;
  return groupNames[bit];
}

const char* LogManager::LevelName(int32_t level) {
  if (level < 0 || level >= static_cast<int32_t>(std::size(kLevelNames))) return kUnknownLevelName;
  return kLevelNames[level];
}

const char* LogManager::ExecutableName() {
  return executableNameRead.load(std::memory_order_acquire) ? executableName
                                                            : kUnknownExecutableName;
}

void LogManager::FillLocalTime(LogRecord& record) {
  const Platform::LocalTime now = Platform::CurrentLocalTime();
  record.year = now.year;
  record.month = now.month;
  record.day = now.day;
  record.hour = now.hour;
  record.minute = now.minute;
  record.second = now.second;
  record.millisecond = now.millisecond;
}

void LogManager::AttachTarget(LogTarget& target) {
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  ManagerState* manager = EnsureManagerLocked();
  if (manager == nullptr) return;
  AttachLocked(*manager, target);
}

void LogManager::DetachTarget(LogTarget& target) {
  // Under the target's lock only the manager can change the flag, and only to
  // false: a detached target stays detached without taking the manager's lock
  // (which a manager being built holds while its targets may be destroyed).
  std::atomic<bool>& attached = LogManagerAccess::Attached(target);
  if (!attached.load(std::memory_order_acquire)) return;
  std::lock_guard<Platform::Lock> guard(ManagerLock());
  if (!attached.load(std::memory_order_relaxed) || currentManager == nullptr) return;
  std::vector<LogTarget*>& sinks = currentManager->sinks;
  sinks.erase(std::remove(sinks.begin(), sinks.end(), &target), sinks.end());
  attached.store(false, std::memory_order_release);
}

}  // namespace Tesk
