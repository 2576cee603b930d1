// HostEvent: one event exchanged with the host, sent through CoreInterface
// function 2 and delivered to the callbacks given at subscription.
#pragma once

#include "host-abi/host_value.h"

namespace Tesk {

#pragma pack(push, 1)
struct HostEvent {
  const char* name;   // +0, NUL-terminated
  HostValue payload;  // +4, 12 bytes
  uint32_t flags;     // +16, always 0 when sent
  void* userData;     // +20, set by the host on callbacks: the plug-in object
};
#pragma pack(pop)

KTX_RECORD_OFFSET(HostEvent, payload, 4);
KTX_RECORD_OFFSET(HostEvent, flags, 16);
KTX_RECORD_OFFSET(HostEvent, userData, 20);
KTX_RECORD_SIZE(HostEvent, 24);

using HostEventCallback = void(KTX_HOST_CALL*)(HostEvent* event);

}  // namespace Tesk
