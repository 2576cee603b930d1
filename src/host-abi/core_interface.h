// CoreInterface: the ten services the host offers the plug-in. Every function
// takes the table itself as its first argument.
#pragma once

#include "host-abi/host_event.h"
#include "host-abi/host_requests.h"

namespace Tesk {

struct CoreInterface;

using TimerCallback = void(KTX_HOST_CALL*)(void* context);

#pragma pack(push, 1)
struct CoreInterface {
  // 0: API request to the host or another plug-in (form 1).
  void(KTX_HOST_CALL* apiRequest)(CoreInterface* self, ResponseRecord* response,
                                  const ApiRequestRecord* request);
  // 1: HTTP request to a remote web service (form 2).
  void(KTX_HOST_CALL* httpRequest)(CoreInterface* self, HttpResponseRecord* response,
                                   const HttpRequestRecord* request);
  // 2: sends an event to the subscribers of its name.
  void(KTX_HOST_CALL* sendEvent)(CoreInterface* self, const HostEvent* event);
  // 3: subscribes `callback` to the events named `name`.
  void(KTX_HOST_CALL* subscribe)(CoreInterface* self, const char* name, uint32_t pluginHandle,
                                 HostEventCallback callback, void* userData, uint32_t flag);
  // 4: ends the subscription to `name`.
  void(KTX_HOST_CALL* unsubscribe)(CoreInterface* self, const char* name, uint32_t pluginHandle);
  // 5: calls `callback(context)` once after `delaySeconds`.
  void(KTX_HOST_CALL* schedule)(CoreInterface* self, const char* label, TimerCallback callback,
                                void* context, double delaySeconds, uint32_t flag);
  // 6 to 8: yield, start and end of a wait.
  void(KTX_HOST_CALL* yield)(CoreInterface* self);
  void(KTX_HOST_CALL* waitStart)(CoreInterface* self, const char* label, uint32_t flag);
  void(KTX_HOST_CALL* waitEnd)(CoreInterface* self);
  // 9: one log message at a level 0 to 3.
  void(KTX_HOST_CALL* log)(CoreInterface* self, int32_t level, const char* message);
};
#pragma pack(pop)

KTX_RECORD_OFFSET(CoreInterface, sendEvent, 8);
KTX_RECORD_OFFSET(CoreInterface, schedule, 20);
KTX_RECORD_OFFSET(CoreInterface, log, 36);
KTX_RECORD_SIZE(CoreInterface, 40);

}  // namespace Tesk
