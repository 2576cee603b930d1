// HostOperations: the nine operations the plug-in asks of its host, in
// CoreInterface order 0 to 8. The plug-in object implements them on the host's
// table; the REST layer and the event code see only this interface.
#pragma once

#include "host-abi/core_interface.h"

namespace Tesk {

class HostOperations {
 public:
  // 0: form 1 request; returns once the host has filled `response`.
  virtual void ApiRequest(ResponseRecord* response, const ApiRequestRecord* request) = 0;
  // 1: form 2 request; returns once the host has filled `response`.
  virtual void HttpRequest(HttpResponseRecord* response, const HttpRequestRecord* request) = 0;
  // 2: sends `event` to the subscribers of its name.
  virtual void SendEvent(const HostEvent* event) = 0;
  // 3 and 4: host subscriptions by event name.
  virtual void HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback,
                             void* userData, uint32_t flag) = 0;
  virtual void HostUnsubscribe(const char* name, uint32_t pluginHandle) = 0;
  // 5: one call of `callback(context)` after `delaySeconds`.
  virtual void HostSchedule(const char* label, TimerCallback callback, void* context,
                            double delaySeconds, uint32_t flag) = 0;
  // 6 to 8: yield and the wait markers around it.
  virtual void Yield() = 0;
  virtual void WaitStart(const char* label, uint32_t flag) = 0;
  virtual void WaitEnd() = 0;

 protected:
  ~HostOperations() = default;
};

}  // namespace Tesk
