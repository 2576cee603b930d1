// The session side of the stand-in trace service, for tests.
#include "platform/trace_session.h"

#include <utility>

namespace Tesk::Platform::TraceSession {
namespace {

void CollectEvent(void* context, const TraceGuid* provider, const TraceEventDescriptor* descriptor,
                  uint32_t dataCount, const uint8_t* payload, uint32_t payloadSize) {
  auto& events = *static_cast<std::vector<WrittenEvent>*>(context);
  events.push_back(
      {*provider, *descriptor, dataCount, std::vector<uint8_t>(payload, payload + payloadSize)});
}

}  // namespace

void EnableProvider(const TraceGuid& provider, uint8_t level, uint64_t matchAny,
                    uint64_t matchAll) {
  ProcessTraceService().enableProvider(&provider, level, matchAny, matchAll);
}

void DisableProvider(const TraceGuid& provider) {
  ProcessTraceService().disableProvider(&provider);
}

std::vector<WrittenEvent> TakeWrittenEvents() {
  std::vector<WrittenEvent> events;
  ProcessTraceService().takeWrittenEvents(CollectEvent, &events);
  return events;
}

bool IsProviderRegistered(const TraceGuid& provider) {
  return ProcessTraceService().isProviderRegistered(&provider) != 0;
}

void Reset() { ProcessTraceService().reset(); }

}  // namespace Tesk::Platform::TraceSession
