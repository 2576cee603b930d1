#include "plugin/plugin_core.h"

#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "binding/builtin_types.h"
#include "diagnostics/log_manager.h"

namespace Tesk {
namespace {

// The host must never see an exception: a failing callback is logged and dropped.
template <class Body>
void RunGuarded(const char* what, const char* name, Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& error) {
    LogMessage(kLogLevelError, kLogGroupDbg, "%s %s failed: %s", what, name, error.what());
  } catch (...) {
    LogMessage(kLogLevelError, kLogGroupDbg, "%s %s failed with an unknown exception", what, name);
  }
}

}  // namespace

PluginCore::PluginCore() : registry_(std::make_unique<BindingRegistry>()) {
  registry_->Initialize(&RegisterBindingBuiltins);
}

PluginCore::~PluginCore() = default;

void PluginCore::Stop() {
  std::vector<std::string> names;
  names.reserve(eventHandlers_.size());
  for (const auto& entry : eventHandlers_) names.push_back(entry.first);
  for (const std::string& name : names) HostUnsubscribe(name.c_str(), pluginHandle_);
  eventHandlers_.clear();
}

void PluginCore::RegisterEventHandler(std::string_view eventName, HostEventHandler handler,
                                      uint32_t flag) {
  auto [entry, inserted] =
      eventHandlers_.insert_or_assign(std::string(eventName), std::move(handler));
  (void)inserted;
  HostSubscribe(entry->first.c_str(), pluginHandle_, &PluginCore::EventTrampoline, this, flag);
}

void PluginCore::UnregisterEventHandler(std::string_view eventName) {
  const auto entry = eventHandlers_.find(eventName);
  if (entry == eventHandlers_.end()) return;
  HostUnsubscribe(entry->first.c_str(), pluginHandle_);
  eventHandlers_.erase(entry);
}

bool PluginCore::HasEventHandler(std::string_view eventName) const {
  return eventHandlers_.find(eventName) != eventHandlers_.end();
}

void KTX_HOST_CALL PluginCore::EventTrampoline(HostEvent* event) {
  if (event == nullptr || event->userData == nullptr || event->name == nullptr) return;
  auto* core = static_cast<PluginCore*>(event->userData);
  RunGuarded("Event handler", event->name, [&] {
    const auto entry = core->eventHandlers_.find(std::string_view(event->name));
    if (entry == core->eventHandlers_.end()) return;
    // A copy: the handler may replace or remove its own registration.
    const HostEventHandler handler = entry->second;
    handler(*event);
  });
}

uint64_t PluginCore::ScheduleTimer(const char* label, TimerTask task, SteadyTime due) {
  TimerEntry* entry = nullptr;
  uint64_t number = 0;
  {
    std::lock_guard<Platform::Lock> guard(timerLock_);
    number = nextTimerNumber_++;
    auto stored = std::make_unique<TimerEntry>(TimerEntry{this, number, std::move(task)});
    entry = stored.get();
    timers_.emplace(number, std::move(stored));
  }
  const auto remaining = due - std::chrono::steady_clock::now();
  double delay = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count() * 1e-9;
  if (!(delay > 0)) delay = 0;
  // The host may run the callback before HostSchedule returns, which frees `entry`.
  HostSchedule(label, &PluginCore::TimerTrampoline, entry, delay, 0);
  return number;
}

size_t PluginCore::PendingTimerCount() const {
  std::lock_guard<Platform::Lock> guard(timerLock_);
  return timers_.size();
}

void KTX_HOST_CALL PluginCore::TimerTrampoline(void* context) {
  if (context == nullptr) return;
  auto* entry = static_cast<TimerEntry*>(context);
  entry->owner->RunTimer(entry->number);
}

void PluginCore::RunTimer(uint64_t number) {
  TimerTask task;
  {
    std::lock_guard<Platform::Lock> guard(timerLock_);
    const auto entry = timers_.find(number);
    if (entry == timers_.end()) return;
    task = std::move(entry->second->task);
  }
  RunGuarded("Scheduled callback", "", [&] {
    if (task) task();
  });
  std::lock_guard<Platform::Lock> guard(timerLock_);
  timers_.erase(number);
}

void PluginCore::SetHostIdentity(uint32_t pluginHandle, std::string shortName,
                                 std::string userAgent) {
  pluginHandle_ = pluginHandle;
  shortName_ = std::move(shortName);
  userAgent_ = std::move(userAgent);
}

}  // namespace Tesk
