#include "plugin/plugin_core.h"

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
  lcdsSubscriptions_.clear();
  serviceProxy_.Clear();
  resourceObservers_.Clear();
  subscriptionCounts_.clear();
}

// --- Resource subscriptions ---

void PluginCore::Subscribe(std::string_view uri) {
  const std::string name = EventNameForResource(uri);
  int32_t& count = subscriptionCounts_[name];
  if (++count != 1) return;
  RegisterEventHandler<PluginResourceEvent>(
      name, [this](const PluginResourceEvent& event) { resourceObservers_.Dispatch(event); }, 0);
}

void PluginCore::Unsubscribe(std::string_view uri) {
  const std::string name = EventNameForResource(uri);
  int32_t& count = subscriptionCounts_[name];
  if (--count != 0) return;
  subscriptionCounts_.erase(name);
  HostUnsubscribe(name.c_str(), pluginHandle_);
  eventHandlers_.erase(name);
}

int32_t PluginCore::SubscriptionCount(std::string_view uri) const {
  const auto found = subscriptionCounts_.find(EventNameForResource(uri));
  return found != subscriptionCounts_.end() ? found->second : 0;
}

void PluginCore::ObserveResource(std::string_view uriOrPattern, ResourceHandler handler) {
  const bool exact = uriOrPattern.find('*') == std::string_view::npos;
  // Kept for the immediate read: the registry owns the stored copy.
  ResourceHandler first = exact ? handler : ResourceHandler{};
  resourceObservers_.Add(uriOrPattern, std::move(handler));
  Subscribe(uriOrPattern);
  if (!exact) return;
  const std::string uri(uriOrPattern);
  RequestResult<BindingProperty> current =
      SendApiRequestFor<BindingProperty>(RequestTarget(), HttpMethod::Get, uri);
  if (!current.ok()) return;  // a resource that cannot be read is simply not there yet
  const PluginResourceEvent event{uri, PluginResourceEventType::Create, std::move(current.value)};
  first(uri, event);
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
  lcdsSubscriptions_.insert_or_assign(std::string(typeName), std::move(handler));
  RegisterEventHandler<PluginLcdsEvent>(
      EventNameForLcdsType(typeName), [this](const PluginLcdsEvent& event) { ReceiveLcds(event); },
      1);
}

bool PluginCore::HasLcdsSubscription(std::string_view typeName) const {
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
        const auto subscription = lcdsSubscriptions_.find(message.typeName);
        if (subscription == lcdsSubscriptions_.end()) return;
        const LcdsHandler handler = subscription->second;
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
  serviceProxy_.SetShortName(shortName_);
  telemetry_ = std::make_unique<HostTelemetrySender>(RequestTarget());
  SubscribeServiceProxy();
}

}  // namespace Tesk
