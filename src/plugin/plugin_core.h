// PluginCore: the host-independent part of a plug-in object. It owns the
// plug-in's type registry, the registries of host event handlers, resource
// observers, LCDS subscriptions, service-proxy answers and timers, and the
// telemetry sender, and declares the host operations that PluginBase
// implements on the host's CoreInterface.
//
// Threads: the host may call the trampolines on any thread, also while the
// plug-in changes its subscriptions (in Start, Stop or a handler). The event
// handlers, subscription counts, resource observers and LCDS subscriptions
// share one lock, under which a handler is only copied: handlers run, and the
// host is called, without it. The service-proxy registry has its own lock,
// and timers live in a process-wide table under another, so that a callback
// the host runs after the object is gone finds nothing and does nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding_registry.h"
#include "binding/conversion.h"
#include "binding/host_value_conversion.h"
#include "host-abi/host_operations.h"
#include "platform/platform.h"
#include "plugin/plugin_manager_types.h"
#include "plugin/resource_observers.h"
#include "plugin/service_proxy_registry.h"
#include "plugin/telemetry_sender.h"
#include "rest/host_request_target.h"

namespace Tesk {

class PluginCore : public HostOperations {
 public:
  // Receives the host's event record; the payload is owned by the host and
  // valid only during the call.
  using HostEventHandler = std::function<void(const HostEvent& event)>;
  using TimerTask = std::function<void()>;
  using SteadyTime = std::chrono::steady_clock::time_point;
  using ResourceHandler = ResourceObservers::Handler;
  // Receives a resource's path, what happened and its new content converted
  // to T; null for Delete.
  template <class T>
  using TypedResourceHandler =
      std::function<void(const std::string& path, PluginResourceEventType type, const T* value)>;
  using LcdsHandler = std::function<void(const PluginLcdsEvent& event)>;

  PluginCore();
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;
  virtual ~PluginCore();

  // --- Resource subscriptions ---

  // Counted subscription to the event of `uri` (EventNameForResource): the
  // first one of a name subscribes with the host, the last Unsubscribe ends it.
  // An Unsubscribe without a Subscribe left does nothing.
  virtual void Subscribe(std::string_view uri);
  virtual void Unsubscribe(std::string_view uri);

  // Ends every host subscription (one host call per event name) and empties
  // every registry but the timers, which stay until the object is destroyed.
  virtual void Stop();

  // --- Host events ---

  // Stores `handler` under `eventName`, replacing any previous one, and asks the
  // host to call back with this object as user data.
  void RegisterEventHandler(std::string_view eventName, HostEventHandler handler, uint32_t flag);
  // The same for a payload of native type T: an event whose payload does not
  // convert is dropped.
  template <class T>
  void RegisterEventHandler(std::string_view eventName, std::function<void(const T&)> handler,
                            uint32_t flag) {
    RegisterEventHandler(
        eventName,
        [this, handler = std::move(handler)](const HostEvent& event) {
          T payload{};
          if (ConvertPayload(event.payload, "<result>", payload)) handler(payload);
        },
        flag);
  }
  // Removes the handler and ends the host subscription to `eventName`.
  void UnregisterEventHandler(std::string_view eventName);
  [[nodiscard]] bool HasEventHandler(std::string_view eventName) const;

  // Calls `handler` for the events of `uriOrPattern` ("*" matches within one
  // path segment) and subscribes. For an exact uri the resource's current
  // state is read at once (GET) and handed over as a Create event when the read
  // succeeds.
  void ObserveResource(std::string_view uriOrPattern, ResourceHandler handler);
  // The same with the content converted to T; content that does not convert
  // is dropped.
  template <class T>
  void ObserveResource(std::string_view uriOrPattern, TypedResourceHandler<T> handler) {
    ObserveResource(uriOrPattern, [this, handler = std::move(handler)](
                                      const std::string& path, const PluginResourceEvent& event) {
      if (event.eventType == PluginResourceEventType::Delete) {
        handler(path, event.eventType, nullptr);
        return;
      }
      T value{};
      BindingResult converted;
      FromBinding(converted, value, event.data, "<value>", registry_.get());
      if (converted.ok) handler(path, event.eventType, &value);
    });
  }

  // Announces `event` under the event of its uri, then under `eventName` when
  // that differs. Fails with the conversion's message when the event does not
  // convert.
  BindingResult SendResourceEvent(std::string_view eventName, const PluginResourceEvent& event,
                                  uint32_t flags);
  // Announces an update of `uri` with `value` as content under
  // "OnJsonApiEvent"; a value that does not convert is not sent.
  template <BindingNativeType T>
  void SendResourceEvent(std::string_view uri, const T& value) {
    BindingResult converted;
    ToBinding(converted, value, registry_.get());
    if (!converted.ok) return;
    PluginResourceEvent event{std::string(uri), PluginResourceEventType::Update,
                              std::move(converted.value)};
    (void)SendResourceEvent(kJsonApiEventName, event, 0);
  }

  // --- LCDS messages ---

  // Calls `handler` with every message of class `typeName`, each on its own
  // scheduled callback; a later subscription to the class replaces the handler.
  void SubscribeLcds(std::string_view typeName, LcdsHandler handler);
  // The same with the body converted to T; a body that does not convert is
  // dropped.
  template <class T>
  void SubscribeLcds(std::string_view typeName, std::function<void(const T&)> handler) {
    SubscribeLcds(typeName,
                  LcdsHandler([this, handler = std::move(handler)](const PluginLcdsEvent& event) {
                    T body{};
                    BindingResult converted;
                    FromBinding(converted, body, event.body, "<value>", registry_.get());
                    if (converted.ok) handler(body);
                  }));
  }
  [[nodiscard]] bool HasLcdsSubscription(std::string_view typeName) const;

  // --- Timers ---

  // Runs `task` once at `due` (steady clock) through the host's scheduler.
  // Returns the timer number (counting from 1 for each object). The host's
  // callback carries a process-wide key, never the object: a callback run
  // after the object is destroyed does nothing.
  uint64_t ScheduleTimer(const char* label, TimerTask task, SteadyTime due);
  [[nodiscard]] size_t PendingTimerCount() const;

  // --- What the object holds ---

  // The plug-in's types, functions and events, initialised with the SDK's
  // builtin types when the object is made.
  [[nodiscard]] BindingRegistry& Registry() { return *registry_; }
  [[nodiscard]] const BindingRegistry& Registry() const { return *registry_; }
  // Where the plug-in's outgoing requests go: this object, its handle, user
  // agent and registry.
  [[nodiscard]] HostRequestTarget RequestTarget() {
    return HostRequestTarget{*this, pluginHandle_, userAgent_, registry_.get()};
  }
  [[nodiscard]] ServiceProxyRegistry& ServiceProxy() { return serviceProxy_; }
  // Null before Initialize.
  [[nodiscard]] TelemetrySender* Telemetry() const { return telemetry_.get(); }
  // The number of Subscribe calls not undone for the event of `uri`.
  [[nodiscard]] int32_t SubscriptionCount(std::string_view uri) const;

  [[nodiscard]] uint32_t PluginHandle() const { return pluginHandle_; }
  [[nodiscard]] const std::string& ShortName() const { return shortName_; }
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }

 protected:
  // Stores what Initialize learns, replaces the telemetry sender and
  // subscribes to the three service-proxy events.
  void SetHostIdentity(uint32_t pluginHandle, std::string shortName, std::string userAgent);

 private:
  template <class T>
  bool ConvertPayload(const HostValue& payload, std::string_view label, T& out) const {
    HostValueConversion value = FromHostValue(payload, label, nullptr);
    if (!value.ok) return false;
    BindingResult converted;
    FromBinding(converted, out, value.value, label, registry_.get());
    return converted.ok;
  }

  static void KTX_HOST_CALL EventTrampoline(HostEvent* event);
  static void KTX_HOST_CALL TimerTrampoline(void* context);
  void DispatchResourceEvent(const PluginResourceEvent& event);
  void ReceiveLcds(const PluginLcdsEvent& event);
  void SubscribeServiceProxy();

  std::unique_ptr<BindingRegistry> registry_;
  uint32_t pluginHandle_ = 0;
  std::string shortName_;
  std::string userAgent_;
  std::unique_ptr<TelemetrySender> telemetry_;
  // Guards the four registries below; never held while a handler runs or the
  // host is called.
  mutable Platform::Lock registryLock_;
  std::map<std::string, HostEventHandler, std::less<>> eventHandlers_;
  std::map<std::string, int32_t, std::less<>> subscriptionCounts_;  // each above 0
  ResourceObservers resourceObservers_;
  std::map<std::string, LcdsHandler, std::less<>> lcdsSubscriptions_;
  ServiceProxyRegistry serviceProxy_;
  uint64_t nextTimerNumber_ = 1;  // guarded by the process-wide timer table's lock
};

}  // namespace Tesk
