// PluginCore: the host-independent part of a plug-in object. It owns the
// registries of host event handlers and timers and declares the host
// operations that PluginBase implements on the host's CoreInterface.
//
// Threads: the host may call the trampolines on any thread. The timer registry
// takes its own lock; the event handler registry takes none, so the host must
// not run event callbacks while the plug-in changes its subscriptions (the
// host serialises calls into one plug-in object).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "binding/binding_registry.h"
#include "platform/platform.h"
#include "plugin/abi/host_operations.h"
#include "rest/host_request_target.h"

namespace Tesk {

class PluginCore : public HostOperations {
 public:
  // Receives the host's event record; the payload is owned by the host and
  // valid only during the call.
  using HostEventHandler = std::function<void(const HostEvent& event)>;
  using TimerTask = std::function<void()>;
  using SteadyTime = std::chrono::steady_clock::time_point;

  PluginCore();
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;
  virtual ~PluginCore();

  // Ends every host subscription (one host call per event name) and empties the
  // registries. Pending timers stay registered until the object is destroyed.
  virtual void Stop();

  // Stores `handler` under `eventName`, replacing any previous one, and asks the
  // host to call back with this object as user data.
  void RegisterEventHandler(std::string_view eventName, HostEventHandler handler, uint32_t flag);
  // Removes the handler and ends the host subscription to `eventName`.
  void UnregisterEventHandler(std::string_view eventName);
  [[nodiscard]] bool HasEventHandler(std::string_view eventName) const;

  // Runs `task` once at `due` (steady clock) through the host's scheduler.
  // Returns the timer number (counting from 1).
  uint64_t ScheduleTimer(const char* label, TimerTask task, SteadyTime due);
  [[nodiscard]] size_t PendingTimerCount() const;

  // The plug-in's types, functions and events, initialised with the SDK's
  // builtin types when the object is made.
  [[nodiscard]] BindingRegistry& Registry() { return *registry_; }
  [[nodiscard]] const BindingRegistry& Registry() const { return *registry_; }
  // Where the plug-in's outgoing requests go: this object, its handle, user
  // agent and registry.
  [[nodiscard]] HostRequestTarget RequestTarget() {
    return HostRequestTarget{*this, pluginHandle_, userAgent_, registry_.get()};
  }

  [[nodiscard]] uint32_t PluginHandle() const { return pluginHandle_; }
  [[nodiscard]] const std::string& ShortName() const { return shortName_; }
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }

 protected:
  void SetHostIdentity(uint32_t pluginHandle, std::string shortName, std::string userAgent);

 private:
  struct TimerEntry {
    PluginCore* owner;
    uint64_t number;
    TimerTask task;
  };

  static void KTX_HOST_CALL EventTrampoline(HostEvent* event);
  static void KTX_HOST_CALL TimerTrampoline(void* context);
  void RunTimer(uint64_t number);

  std::unique_ptr<BindingRegistry> registry_;
  uint32_t pluginHandle_ = 0;
  std::string shortName_;
  std::string userAgent_;
  std::map<std::string, HostEventHandler, std::less<>> eventHandlers_;

  mutable Platform::Lock timerLock_;
  uint64_t nextTimerNumber_ = 1;
  std::map<uint64_t, std::unique_ptr<TimerEntry>> timers_;
};

}  // namespace Tesk
