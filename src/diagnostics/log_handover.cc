#include "diagnostics/log_handover.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "diagnostics/log_manager.h"
#include "platform/platform.h"

namespace Tesk {
namespace {

struct OfferedTarget {
  LogTarget* target;
  LogHandoverSettings settings;
  std::string lineFormat;  // owns the text settings.target.lineFormat views
};

// What the log had before the first target took it.
struct ConsoleState {
  bool standardError = false;
  bool standardOutput = false;
  bool debuggerConsole = false;
  int32_t minimumLevel = kLogLevelWarn;
  uint64_t excludedGroups = kLogGroupXtr;
};

// Built once and never destroyed: a target may be withdrawn while static
// objects are being destroyed. It lives in static storage, not on the heap,
// and its list gives its memory back once empty, so that nothing of it is
// left behind when the library holding it is unloaded.
struct HandoverState {
  Platform::Lock lock;
  std::vector<OfferedTarget> offered;  // the first holds the log
  ConsoleState console;
};

HandoverState& State() {
  alignas(HandoverState) static unsigned char storage[sizeof(HandoverState)];
  static HandoverState* const state = new (storage) HandoverState();
  return *state;
}

bool DetachIfAttached(LogTarget* target) {
  if (target == nullptr || !target->IsAttached()) return false;
  target->Detach();
  return true;
}

void AttachIf(bool attach, LogTarget* target) {
  if (attach && target != nullptr) target->Attach();
}

void TakeOver(const OfferedTarget& holder) {
  LogManager::SetMinimumLevel(holder.settings.minimumLevel);
  LogManager::SetExcludedGroups(holder.settings.excludedGroups);
  LogTargetSettings settings = holder.settings.target;
  settings.lineFormat = holder.lineFormat;
  holder.target->Configure(settings);
}

}  // namespace

void LogHandover::Offer(LogTarget& target, const LogHandoverSettings& settings) {
  HandoverState& state = State();
  std::lock_guard<Platform::Lock> guard(state.lock);
  for (const OfferedTarget& offered : state.offered) {
    if (offered.target == &target) return;
  }
  state.offered.push_back({&target, settings, std::string(settings.target.lineFormat)});
  if (state.offered.size() != 1) return;
  ConsoleState& console = state.console;
  console.minimumLevel = LogManager::MinimumLevel();
  console.excludedGroups = LogManager::ExcludedGroups();
  console.standardError = DetachIfAttached(LogManager::StandardErrorSink());
  console.standardOutput = DetachIfAttached(LogManager::StandardOutputSink());
  console.debuggerConsole = DetachIfAttached(LogManager::DebuggerConsoleSink());
  TakeOver(state.offered.front());
}

void LogHandover::Withdraw(LogTarget& target) {
  HandoverState& state = State();
  std::lock_guard<Platform::Lock> guard(state.lock);
  const auto found = std::find_if(state.offered.begin(), state.offered.end(),
                                  [&](const OfferedTarget& o) { return o.target == &target; });
  if (found == state.offered.end()) return;
  const bool held = found == state.offered.begin();
  state.offered.erase(found);
  if (!held) return;
  target.Detach();
  if (!state.offered.empty()) {
    TakeOver(state.offered.front());
    return;
  }
  std::vector<OfferedTarget>().swap(state.offered);
  const ConsoleState& console = state.console;
  AttachIf(console.standardError, LogManager::StandardErrorSink());
  AttachIf(console.standardOutput, LogManager::StandardOutputSink());
  AttachIf(console.debuggerConsole, LogManager::DebuggerConsoleSink());
  LogManager::SetMinimumLevel(console.minimumLevel);
  LogManager::SetExcludedGroups(console.excludedGroups);
}

LogTarget* LogHandover::Holder() {
  HandoverState& state = State();
  std::lock_guard<Platform::Lock> guard(state.lock);
  return state.offered.empty() ? nullptr : state.offered.front().target;
}

}  // namespace Tesk
