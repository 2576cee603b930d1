// The plug-in's event-tracing providers: their identities and event tables, the
// enable state the system hands them, and the thread-name announcement.
#include "diagnostics/trace_providers.h"

#include <array>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace Tesk {
namespace {

// What a session must enable for an event to be written.
struct TraceEventFilter {
  uint64_t keyword;
  uint8_t level;
};

struct ProviderDefinition {
  Platform::TraceGuid guid;
  const TraceEventFilter* events;
  int eventCount;
};

constexpr TraceEventFilter kProvider1Events[] = {{1, 0}};
constexpr TraceEventFilter kProvider2Events[] = {{1, 0}};  // the thread-name event
constexpr TraceEventFilter kProvider3Events[] = {{0, 0}};
constexpr TraceEventFilter kProvider4Events[] = {{1, 0}, {2, 0}};

constexpr ProviderDefinition kProviders[kTraceProviderCount] = {
    {{0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
     kProvider1Events,
     static_cast<int>(std::size(kProvider1Events))},
    {{0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
     kProvider2Events,
     static_cast<int>(std::size(kProvider2Events))},
    {{0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
     kProvider3Events,
     static_cast<int>(std::size(kProvider3Events))},
    {{0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
     kProvider4Events,
     static_cast<int>(std::size(kProvider4Events))},
};

constexpr int kThreadNameProvider = 1;
constexpr int kThreadNameEvent = 0;
constexpr Platform::TraceEventDescriptor kThreadNameDescriptor{
    .id = 103, .version = 0, .channel = 0, .level = 0, .opcode = 14, .task = 2, .keyword = 1};
constexpr char kMainThreadName[] = "Main thread";

// What the system told one provider. The enable bits hold one bit per event.
struct ProviderContext {
  uint64_t handle;  // 0 while unregistered
  uint64_t matchAny;
  uint64_t matchAll;
  bool enabled;
  uint8_t level;
  int eventCount;
  uint32_t enableBits;
  const TraceEventFilter* events;
};
static_assert(
    [] {
      for (const ProviderDefinition& provider : kProviders) {
        if (provider.eventCount > 32) return false;
      }
      return true;
    }(),
    "one enable bit per event");

constexpr std::array<ProviderContext, kTraceProviderCount> InitialContexts() {
  std::array<ProviderContext, kTraceProviderCount> contexts{};
  for (int i = 0; i < kTraceProviderCount; ++i) {
    contexts[i].eventCount = kProviders[i].eventCount;
    contexts[i].events = kProviders[i].events;
  }
  return contexts;
}

// Constant-initialized, so the providers work from any static initializer.
constinit std::array<ProviderContext, kTraceProviderCount> gContexts = InitialContexts();

// Guards gContexts. Never destroyed: the system may call an enable callback until
// unregistration, which can come late in process exit.
Platform::Lock& ContextLock() {
  alignas(Platform::Lock) static unsigned char storage[sizeof(Platform::Lock)];
  static Platform::Lock* const lock = new (storage) Platform::Lock();
  return *lock;
}

void ClearEnableState(ProviderContext& context) {
  context.enabled = false;
  context.level = 0;
  context.matchAny = 0;
  context.matchAll = 0;
  context.enableBits = 0;
}

void KTX_TRACE_CALL EnableCallback(const Platform::TraceGuid*, uint32_t controlCode, uint8_t level,
                                   uint64_t matchAny, uint64_t matchAll, void*,
                                   void* callbackContext) {
  auto* context = static_cast<ProviderContext*>(callbackContext);
  if (context == nullptr) return;
  std::lock_guard guard(ContextLock());
  if (controlCode == Platform::kTraceControlEnable) {
    context->level = level;
    context->matchAny = matchAny;
    context->matchAll = matchAll;
    context->enabled = true;
    uint32_t bits = 0;
    for (int i = 0; i < context->eventCount; ++i) {
      const TraceEventFilter& event = context->events[i];
      if (IsTraceEventSelected(event.level, event.keyword, level, matchAny, matchAll)) {
        bits |= uint32_t{1} << i;
      }
    }
    context->enableBits = bits;
  } else if (controlCode == Platform::kTraceControlDisable) {
    ClearEnableState(*context);
  }
}

bool EventBit(const ProviderContext& context, int event) {
  return event >= 0 && event < context.eventCount && (context.enableBits >> event & 1) != 0;
}

// Writes the thread-name event; an absent name is written as "NULL".
void WriteThreadName(uint64_t handle, uint32_t threadId, const char* name) {
  const auto write = Platform::LoadEventTraceFunctions().writeEvent;
  if (write == nullptr) return;
  if (name == nullptr) name = "NULL";
  Platform::TraceDataDescriptor data[2] = {
      {reinterpret_cast<uintptr_t>(&threadId), sizeof threadId, 0},
      {reinterpret_cast<uintptr_t>(name), static_cast<uint32_t>(std::strlen(name) + 1), 0},
  };
  // Nobody waits for the announcement: a failure is ignored.
  (void)write(handle, &kThreadNameDescriptor, 2, data);
}

bool ValidProvider(int provider) { return provider >= 0 && provider < kTraceProviderCount; }

}  // namespace

bool IsTraceEventSelected(uint8_t eventLevel, uint64_t eventKeyword, uint8_t sessionLevel,
                          uint64_t matchAny, uint64_t matchAll) {
  if (sessionLevel != 0 && sessionLevel < eventLevel) return false;
  if (eventKeyword == 0) return true;
  return (eventKeyword & matchAny) != 0 && (eventKeyword & matchAll) == matchAll;
}

void RegisterTraceProviders() {
  const Platform::EventTraceFunctions& system = Platform::LoadEventTraceFunctions();
  if (system.registerProvider != nullptr) {
    for (int i = 0; i < kTraceProviderCount; ++i) {
      ProviderContext& context = gContexts[i];
      {
        std::lock_guard guard(ContextLock());
        if (context.handle != 0) continue;
      }
      // The system may call the enable callback before it returns: no lock held.
      uint64_t handle = 0;
      const uint32_t status =
          system.registerProvider(&kProviders[i].guid, EnableCallback, &context, &handle);
      if (status != 0) continue;  // the provider stays unregistered; the load goes on
      std::lock_guard guard(ContextLock());
      context.handle = handle;
    }
  }
  uint64_t handle = 0;
  {
    std::lock_guard guard(ContextLock());
    const ProviderContext& context = gContexts[kThreadNameProvider];
    if (context.handle != 0 && EventBit(context, kThreadNameEvent)) handle = context.handle;
  }
  if (handle != 0) WriteThreadName(handle, Platform::CurrentThreadId(), kMainThreadName);
}

void UnregisterTraceProviders() {
  const auto unregister = Platform::LoadEventTraceFunctions().unregisterProvider;
  for (int i = kTraceProviderCount - 1; i >= 0; --i) {
    ProviderContext& context = gContexts[i];
    uint64_t handle = 0;
    {
      std::lock_guard guard(ContextLock());
      handle = context.handle;
    }
    if (handle == 0) continue;
    // Callbacks may arrive until the system's unregistration returns: no lock held.
    if (unregister != nullptr) (void)unregister(handle);
    std::lock_guard guard(ContextLock());
    context.handle = 0;
    ClearEnableState(context);
  }
}

Platform::TraceGuid TraceProviderGuid(int provider) {
  return ValidProvider(provider) ? kProviders[provider].guid : Platform::TraceGuid{};
}

int TraceProviderEventCount(int provider) {
  return ValidProvider(provider) ? kProviders[provider].eventCount : 0;
}

bool IsTraceProviderRegistered(int provider) {
  if (!ValidProvider(provider)) return false;
  std::lock_guard guard(ContextLock());
  return gContexts[provider].handle != 0;
}

bool IsTraceProviderEnabled(int provider) {
  if (!ValidProvider(provider)) return false;
  std::lock_guard guard(ContextLock());
  return gContexts[provider].enabled;
}

bool IsTraceEventEnabled(int provider, int event) {
  if (!ValidProvider(provider)) return false;
  std::lock_guard guard(ContextLock());
  return EventBit(gContexts[provider], event);
}

}  // namespace Tesk
