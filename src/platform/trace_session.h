// Event tracing on Linux: the process-wide trace service that stands in for the
// system's, and the session side through which tests enable providers and read
// what they wrote. Not available on Windows, where the system is the service.
#pragma once

#ifdef _WIN32
#error "trace_session.h exists only where the stand-in trace service is built"
#endif

#include <cstdint>
#include <vector>

#include "platform/event_trace.h"

// --- The service table ---------------------------------------------------------
//
// Every module of the process that links the platform layer carries its own copy
// of the service; the plug-in's copy is hidden inside its shared object. So that
// providers and sessions meet in one place, as they do in the system's service,
// every copy uses the service that the process exports under the name
// `ktx_trace_service` (test programs export it), and its own copy only when none
// is exported. Only plain C types cross between copies, and no memory changes
// owner: the service copies what it keeps, and lends what it hands out for the
// duration of one call.

extern "C" {

// Receives one written event: its provider, descriptor, the number of data
// descriptors it was written with and their bytes, concatenated in order. The
// pointers are valid only during the call.
typedef void (*KtxTraceEventSink)(void* context, const Tesk::Platform::TraceGuid* provider,
                                  const Tesk::Platform::TraceEventDescriptor* descriptor,
                                  uint32_t dataCount, const uint8_t* payload, uint32_t payloadSize);

// Append-only: a copy checks `size` before using an entry.
struct KtxTraceService {
  uint32_t size;  // sizeof(KtxTraceService) of the copy that filled the table
  // The provider side, with the system functions' contracts.
  Tesk::Platform::TraceRegisterFunction registerProvider;
  Tesk::Platform::TraceWriteFunction writeEvent;
  Tesk::Platform::TraceUnregisterFunction unregisterProvider;
  // The session side (see Tesk::Platform::TraceSession below).
  void (*enableProvider)(const Tesk::Platform::TraceGuid* provider, uint8_t level,
                         uint64_t matchAny, uint64_t matchAll);
  void (*disableProvider)(const Tesk::Platform::TraceGuid* provider);
  int (*isProviderRegistered)(const Tesk::Platform::TraceGuid* provider);
  // Hands every event written so far to `sink`, oldest first, and forgets them.
  void (*takeWrittenEvents)(KtxTraceEventSink sink, void* context);
  void (*reset)(void);
};

// This copy's service table; never null, valid for the life of the process.
__attribute__((visibility("default"))) const KtxTraceService* ktx_trace_service(void);

}  // extern "C"

namespace Tesk::Platform {

// The service this module's providers and sessions use: the one the process
// exports, or this module's own copy. Resolved once; thread-safe.
[[nodiscard]] const KtxTraceService& ProcessTraceService();

// --- The session side ------------------------------------------------------------
//
// One session per provider GUID. All functions are thread-safe. Enable callbacks
// run on the calling thread before the function returns; a callback may write
// events but must not register, unregister, enable or disable.
namespace TraceSession {

struct WrittenEvent {
  TraceGuid provider;
  TraceEventDescriptor descriptor;
  uint32_t dataCount;            // number of data descriptors the event was written with
  std::vector<uint8_t> payload;  // their bytes, concatenated in order
};

// Enables `provider` with a level and keywords (enabling again replaces them).
// Every registration of the GUID gets its enable callback now; a provider that
// registers later gets it during registration. As the system does, a session that
// names no keyword (matchAny 0) is passed to the provider as matching any keyword.
void EnableProvider(const TraceGuid& provider, uint8_t level, uint64_t matchAny, uint64_t matchAll);

// Ends the session of `provider`: each registration gets the disable callback.
// Nothing happens when no session is enabled for it.
void DisableProvider(const TraceGuid& provider);

// Every event written through a registered handle since the last call, oldest
// first, whether or not a session was enabled for its provider: tests see what
// the providers wrote, not what a session would keep.
[[nodiscard]] std::vector<WrittenEvent> TakeWrittenEvents();

[[nodiscard]] bool IsProviderRegistered(const TraceGuid& provider);

// Disables every session (providers get their disable callbacks) and forgets the
// written events. Registrations stay: they belong to the providers.
void Reset();

}  // namespace TraceSession
}  // namespace Tesk::Platform
