// The plug-in's four event-tracing providers: registered with the system when the
// library loads, unregistered when it unloads. The second announces the loading
// thread as the main thread; nothing else writes to them.
#pragma once

#include <cstdint>

#include "platform/event_trace.h"

namespace Tesk {

inline constexpr int kTraceProviderCount = 4;

// Registers the providers in order, each with its own enable callback; a provider
// that is registered already is skipped. Then, when a session has enabled the
// thread-name event, writes it for the calling thread with the name "Main thread".
// Never fails: a provider the system refuses (or a system without tracing) stays
// unregistered. Call at library load, from one thread.
void RegisterTraceProviders();

// Unregisters the registered providers in reverse order and clears their handles
// and enable state (an unregistered provider hears no more of its sessions). Call
// at library unload, from one thread.
void UnregisterTraceProviders();

// Whether a session with this level and these keyword masks selects an event of
// this level and keyword: level 0 selects every level, another level the events
// at or below it; an event without keyword is always selected, one with keywords
// when they share a bit with `matchAny` and hold every bit of `matchAll`.
[[nodiscard]] bool IsTraceEventSelected(uint8_t eventLevel, uint64_t eventKeyword,
                                        uint8_t sessionLevel, uint64_t matchAny, uint64_t matchAll);

// Read-only views of the providers' state, for tests. `provider` is the index in
// registration order (0 to kTraceProviderCount - 1), `event` the index in that
// provider's event table. Out-of-range indices read as an all-zero GUID, 0 events
// and false. Thread-safe.
[[nodiscard]] Platform::TraceGuid TraceProviderGuid(int provider);
[[nodiscard]] int TraceProviderEventCount(int provider);
[[nodiscard]] bool IsTraceProviderRegistered(int provider);
[[nodiscard]] bool IsTraceProviderEnabled(int provider);
[[nodiscard]] bool IsTraceEventEnabled(int provider, int event);

}  // namespace Tesk
