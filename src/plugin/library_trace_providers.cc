// Part of every plug-in shared library (ktx_plugin_runtime): the SDK's tracing
// providers live as long as the library is loaded. Never linked into the
// static libraries that tests use.
#include "diagnostics/trace_providers.h"

namespace {

// Registered while the library's static objects are constructed (at load) and
// unregistered when they are destroyed (at unload).
struct TraceProvidersForLibraryLifetime {
  TraceProvidersForLibraryLifetime() { Tesk::RegisterTraceProviders(); }
  ~TraceProvidersForLibraryLifetime() { Tesk::UnregisterTraceProviders(); }
};
const TraceProvidersForLibraryLifetime traceProviders;

}  // namespace
