// The system's event tracing as a provider sees it: register a provider with an
// enable callback, write events, unregister. Shapes and layouts are the system's.
#pragma once

#include <cstddef>
#include <cstdint>

// The calling convention of the system's tracing functions and of enable callbacks.
#if defined(_WIN32) && !defined(_WIN64)
#define KTX_TRACE_CALL __stdcall
#else
#define KTX_TRACE_CALL
#endif

namespace Tesk::Platform {

// A provider's identity: a GUID with the system's layout.
struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];

  friend bool operator==(const TraceGuid&, const TraceGuid&) = default;
};
static_assert(sizeof(TraceGuid) == 16);

// Describes one event: what a session filters on (level, keyword) and how a
// consumer decodes it.
struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};
static_assert(offsetof(TraceEventDescriptor, keyword) == 8 && sizeof(TraceEventDescriptor) == 16);

// One piece of an event's payload: `size` bytes at the address `pointer`.
struct TraceDataDescriptor {
  uint64_t pointer;
  uint32_t size;
  uint32_t reserved;  // 0
};
static_assert(offsetof(TraceDataDescriptor, size) == 8 && sizeof(TraceDataDescriptor) == 16);

// Control codes passed to an enable callback.
inline constexpr uint32_t kTraceControlDisable = 0;
inline constexpr uint32_t kTraceControlEnable = 1;
inline constexpr uint32_t kTraceControlCaptureState = 2;

// Called by the system when a session changes what it wants from the provider.
// `source` identifies the session (may be all zero); `filter` is unused here and
// may be null; `context` is the one given at registration. May run on any thread,
// including the one registering the provider, before registration returns.
using TraceEnableCallback = void(KTX_TRACE_CALL*)(const TraceGuid* source, uint32_t controlCode,
                                                  uint8_t level, uint64_t matchAny,
                                                  uint64_t matchAll, void* filter, void* context);

// The three system functions. Each returns a system status, 0 on success.
using TraceRegisterFunction = uint32_t(KTX_TRACE_CALL*)(const TraceGuid* provider,
                                                        TraceEnableCallback callback, void* context,
                                                        uint64_t* handle);
using TraceWriteFunction = uint32_t(KTX_TRACE_CALL*)(uint64_t handle,
                                                     const TraceEventDescriptor* descriptor,
                                                     uint32_t dataCount, TraceDataDescriptor* data);
using TraceUnregisterFunction = uint32_t(KTX_TRACE_CALL*)(uint64_t handle);

// Any member may be null when the system does not offer that function; the
// operation is then skipped.
struct EventTraceFunctions {
  TraceRegisterFunction registerProvider;
  TraceWriteFunction writeEvent;
  TraceUnregisterFunction unregisterProvider;
};

// The system's functions, resolved on the first call and kept for the life of the
// process. Thread-safe.
[[nodiscard]] const EventTraceFunctions& LoadEventTraceFunctions();

}  // namespace Tesk::Platform
