#include "plugin/plugin_core.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "binding/builtin_types.h"
#include "diagnostics/format.h"
#include "diagnostics/log_manager.h"
#include "plugin/event_names.h"
#include "rest/api_request.h"

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

// A scheduled task waiting for the host's callback.
struct TimerSlot {
  const PluginCore* owner;
  PluginCore::TimerTask task;
};

// The timers of every plug-in object of the process by key, the host
// callback's context. Keys are never reused while their slot exists; an
// object removes its slots when it is destroyed. Never destroyed itself, so
// that a callback the host runs during the process's exit finds it intact;
// kept in static storage rather than on the heap, so that nothing of it is
// left behind when the library holding it is unloaded.
struct TimerTable {
  Platform::Lock lock;
  uintptr_t nextKey = 1;
  std::map<uintptr_t, TimerSlot> slots;
};

TimerTable& Timers() {
  alignas(TimerTable) static unsigned char storage[sizeof(TimerTable)];
  static TimerTable* const table = new (storage) TimerTable();
  return *table;
}

}  // namespace

PluginCore::PluginCore() : registry_(std::make_unique<BindingRegistry>()) {
  registry_->Initialize(&RegisterBindingBuiltins);
}

PluginCore::~PluginCore() {
  // Tasks capture this object: dropped here, destroyed outside the lock.
  std::vector<TimerTask> dropped;
  TimerTable& timers = Timers();
  std::lock_guard<Platform::Lock> guard(timers.lock);
  for (auto slot = timers.slots.begin(); slot != timers.slots.end();) {
    if (slot->second.owner == this) {
      dropped.push_back(std::move(slot->second.task));
      slot = timers.slots.erase(slot);
    } else {
      ++slot;
    }
  }
}

void PluginCore::Stop() {
  std::vector<std::string> names;
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    names.reserve(eventHandlers_.size());
    for (const auto& entry : eventHandlers_) names.push_back(entry.first);
    eventHandlers_.clear();
    lcdsSubscriptions_.clear();
    resourceObservers_.Clear();
    subscriptionCounts_.clear();
  }
  serviceProxy_.Clear();
  for (const std::string& name : names) HostUnsubscribe(name.c_str(), pluginHandle_);
}

// --- Resource subscriptions ---

void PluginCore::Subscribe(std::string_view uri) {
  const std::string name = EventNameForResource(uri);
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    if (++subscriptionCounts_[name] != 1) return;
  }
  RegisterEventHandler<PluginResourceEvent>(
      name, [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); }, 0);
}

void PluginCore::Unsubscribe(std::string_view uri) {
  const std::string name = EventNameForResource(uri);
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    const auto count = subscriptionCounts_.find(name);
    if (count == subscriptionCounts_.end() || --count->second > 0) return;
    subscriptionCounts_.erase(count);
    eventHandlers_.erase(name);
  }
  HostUnsubscribe(name.c_str(), pluginHandle_);
}

int32_t PluginCore::SubscriptionCount(std::string_view uri) const {
  const std::string name = EventNameForResource(uri);
  std::lock_guard<Platform::Lock> guard(registryLock_);
  const auto found = subscriptionCounts_.find(name);
  return found != subscriptionCounts_.end() ? found->second : 0;
}

void PluginCore::ObserveResource(std::string_view uriOrPattern, ResourceHandler handler) {
  const bool exact = uriOrPattern.find('*') == std::string_view::npos;
  // Kept for the immediate read: the registry owns the stored copy.
  ResourceHandler first = exact ? handler : ResourceHandler{};
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    resourceObservers_.Add(uriOrPattern, std::move(handler));
  }
  Subscribe(uriOrPattern);
  if (!exact) return;
  const std::string uri(uriOrPattern);
  RequestResult<BindingProperty> current =
      SendApiRequestFor<BindingProperty>(RequestTarget(), HttpMethod::Get, uri);
  if (!current.ok()) return;  // a resource that cannot be read is simply not there yet
  const PluginResourceEvent event{uri, PluginResourceEventType::Create, std::move(current.value)};
  first(uri, event);
}

// Copies of the handlers: an observer may add observers while it runs.
void PluginCore::DispatchResourceEvent(const PluginResourceEvent& event) {
  const std::string path = ResourceObservers::PathOf(event.uri);
  std::vector<ResourceHandler> matched;
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    matched = resourceObservers_.Matching(path);
  }
  for (const ResourceHandler& handler : matched) handler(path, event);
}

BindingResult PluginCore::SendResourceEvent(std::string_view eventName,
                                            const PluginResourceEvent& event, uint32_t flags) {
  BindingResult converted;
  ToBinding(converted, event, registry_.get());
  if (!converted.ok) return converted;
  const std::string derived = EventNameForResource(event.uri);
  HostEvent record{};
  record.name = derived.c_str();
  try {
    record.payload = ToHostValue(converted.value, registry_.get());
  } catch (const std::bad_alloc&) {
    BindingResult failed;
    failed.Fail("Not enough memory");
    return failed;
  }
  record.flags = flags;
  SendEvent(&record);
  if (eventName != derived) {
    const std::string general(eventName);
    record.name = general.c_str();
    SendEvent(&record);
  }
  ReleaseHostValue(record.payload);
  return BindingResult{};
}

// --- LCDS messages ---

void PluginCore::SubscribeLcds(std::string_view typeName, LcdsHandler handler) {
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    lcdsSubscriptions_.insert_or_assign(std::string(typeName), std::move(handler));
  }
  RegisterEventHandler<PluginLcdsEvent>(
      EventNameForLcdsType(typeName), [this](const PluginLcdsEvent& event) { ReceiveLcds(event); },
      1);
}

bool PluginCore::HasLcdsSubscription(std::string_view typeName) const {
  std::lock_guard<Platform::Lock> guard(registryLock_);
  return lcdsSubscriptions_.find(typeName) != lcdsSubscriptions_.end();
}

// The host's callback returns at once; the handler runs later on the host's
// scheduler, with its own copy of the message, if the class is still
// subscribed then.
void PluginCore::ReceiveLcds(const PluginLcdsEvent& event) {
  if (!HasLcdsSubscription(event.typeName)) return;
  const std::string label = Format("Event: OnLcdsEvent (%1)", event.typeName);
  ScheduleTimer(
      label.c_str(),
      [this, message = event] {
        LcdsHandler handler;
        {
          std::lock_guard<Platform::Lock> guard(registryLock_);
          const auto subscription = lcdsSubscriptions_.find(message.typeName);
          if (subscription == lcdsSubscriptions_.end()) return;
          handler = subscription->second;
        }
        handler(message);
      },
      std::chrono::steady_clock::now());
}

// --- Service proxy ---

void PluginCore::SubscribeServiceProxy() {
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyUuidEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnUuidResponse(response);
      },
      1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyMethodEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnMethodResponse(response);
      },
      1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyAsyncEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnAsyncResponse(response);
      },
      1);
}

void PluginCore::RegisterEventHandler(std::string_view eventName, HostEventHandler handler,
                                      uint32_t flag) {
  const std::string name(eventName);
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    eventHandlers_.insert_or_assign(name, std::move(handler));
  }
  HostSubscribe(name.c_str(), pluginHandle_, &PluginCore::EventTrampoline, this, flag);
}

void PluginCore::UnregisterEventHandler(std::string_view eventName) {
  const std::string name(eventName);
  {
    std::lock_guard<Platform::Lock> guard(registryLock_);
    if (eventHandlers_.erase(name) == 0) return;
  }
  HostUnsubscribe(name.c_str(), pluginHandle_);
}

bool PluginCore::HasEventHandler(std::string_view eventName) const {
  std::lock_guard<Platform::Lock> guard(registryLock_);
  return eventHandlers_.find(eventName) != eventHandlers_.end();
}

void KTX_HOST_CALL PluginCore::EventTrampoline(HostEvent* event) {
  if (event == nullptr || event->userData == nullptr || event->name == nullptr) return;
  auto* core = static_cast<PluginCore*>(event->userData);
  RunGuarded("Event handler", event->name, [&] {
    // A copy, called without the lock: the handler may replace or remove its
    // own registration, or subscribe to more.
    HostEventHandler handler;
    {
      std::lock_guard<Platform::Lock> guard(core->registryLock_);
      const auto entry = core->eventHandlers_.find(std::string_view(event->name));
      if (entry == core->eventHandlers_.end()) return;
      handler = entry->second;
    }
    handler(*event);
  });
}

uint64_t PluginCore::ScheduleTimer(const char* label, TimerTask task, SteadyTime due) {
  uintptr_t key = 0;
  uint64_t number = 0;
  {
    TimerTable& timers = Timers();
    std::lock_guard<Platform::Lock> guard(timers.lock);
    number = nextTimerNumber_++;
    // Keys wrap around in 32-bit builds; 0 and keys still waiting are skipped.
    do {
      key = timers.nextKey++;
    } while (key == 0 || timers.slots.contains(key));
    timers.slots.emplace(key, TimerSlot{this, std::move(task)});
  }
  const auto remaining = due - std::chrono::steady_clock::now();
  double delay = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count() * 1e-9;
  if (!(delay > 0)) delay = 0;
  // The host may run the callback before HostSchedule returns.
  HostSchedule(label, &PluginCore::TimerTrampoline, reinterpret_cast<void*>(key), delay, 0);
  return number;
}

size_t PluginCore::PendingTimerCount() const {
  TimerTable& timers = Timers();
  std::lock_guard<Platform::Lock> guard(timers.lock);
  size_t count = 0;
  for (const auto& [key, slot] : timers.slots) count += slot.owner == this ? 1 : 0;
  return count;
}

// The task runs once, outside the lock; its slot stays until it has run, so
// that it counts as pending meanwhile.
void KTX_HOST_CALL PluginCore::TimerTrampoline(void* context) {
  const auto key = reinterpret_cast<uintptr_t>(context);
  TimerTable& timers = Timers();
  TimerTask task;
  {
    std::lock_guard<Platform::Lock> guard(timers.lock);
    const auto slot = timers.slots.find(key);
    if (slot == timers.slots.end()) return;  // already run, or its object is gone
    task = std::move(slot->second.task);
  }
  RunGuarded("Scheduled callback", "", [&] {
    if (task) task();
  });
  std::lock_guard<Platform::Lock> guard(timers.lock);
  timers.slots.erase(key);
}

void PluginCore::SetHostIdentity(uint32_t pluginHandle, std::string shortName,
                                 std::string userAgent) {
  pluginHandle_ = pluginHandle;
  shortName_ = std::move(shortName);
  userAgent_ = std::move(userAgent);
  serviceProxy_.SetShortName(shortName_);
  telemetry_ = std::make_unique<HostTelemetrySender>(RequestTarget());
  SubscribeServiceProxy();
}

}  // namespace Tesk
