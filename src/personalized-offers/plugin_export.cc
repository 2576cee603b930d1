// The shared library's one export, and the tracing providers that live as long
// as the library is loaded.
#include "diagnostics/trace_providers.h"
#include "personalized-offers/personalized_offers_plugin.h"
#include "plugin/plugin_loader.h"

#if defined(_WIN32)
#define KTX_EXPORT __declspec(dllexport)
#else
#define KTX_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Registered while the library's static objects are constructed (at load) and
// unregistered when they are destroyed (at unload).
struct TraceProvidersForLibraryLifetime {
  TraceProvidersForLibraryLifetime() { Tesk::RegisterTraceProviders(); }
  ~TraceProvidersForLibraryLifetime() { Tesk::UnregisterTraceProviders(); }
};
const TraceProvidersForLibraryLifetime traceProviders;

}  // namespace

extern "C" KTX_EXPORT void KTX_HOST_CALL load_tav_personalized_offers(Tesk::PluginLoadInfo* info) {
  Tesk::LoadPlugin<Tesk::Client::PersonalizedOffers::PersonalizedOffersPlugin>(
      info, Tesk::Client::PersonalizedOffers::kShortName);
}
