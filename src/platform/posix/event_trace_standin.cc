// The stand-in trace service of Linux builds: registrations, the sessions' enable
// state per provider and the written events, reached through the process-wide
// service table (platform/trace_session.h).
#include "platform/event_trace.h"

#include <dlfcn.h>

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/trace_session.h"

namespace Tesk::Platform {
namespace {

// The system's status codes for the failures the service reports.
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusInvalidHandle = 6;
constexpr uint32_t kStatusInvalidParameter = 87;
constexpr uint32_t kStatusEventTooLarge = 534;

// The system's limits on one event.
constexpr uint32_t kMaxDataDescriptors = 128;
constexpr uint64_t kMaxPayloadBytes = 64 * 1024;

constexpr TraceGuid kSessionSource{};

struct Registration {
  uint64_t handle;
  TraceGuid provider;
  TraceEnableCallback callback;  // may be null
  void* context;
};

struct SessionEnable {
  TraceGuid provider;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
};

struct StoredEvent {
  TraceGuid provider;
  TraceEventDescriptor descriptor;
  uint32_t dataCount;
  std::vector<uint8_t> payload;
};

// One enable callback to make once the state lock is released.
struct Notification {
  TraceEnableCallback callback;
  void* context;
  uint32_t code;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
};

// Lock order: control_ before state_. control_ serialises the operations that
// call providers back, so that no callback runs after its provider unregistered;
// state_ guards the lists and is never held while a provider's code runs, so a
// callback may write events.
class Service {
 public:
  uint32_t Register(const TraceGuid* provider, TraceEnableCallback callback, void* context,
                    uint64_t* handle) {
    if (handle != nullptr) *handle = 0;
    if (provider == nullptr || handle == nullptr) return kStatusInvalidParameter;
    std::lock_guard control(control_);
    std::vector<Notification> notifications;
    {
      std::lock_guard state(state_);
      *handle = nextHandle_++;
      registrations_.push_back({*handle, *provider, callback, context});
      if (const SessionEnable* session = FindSession(*provider)) {
        notifications.push_back(EnableNotification(registrations_.back(), *session));
      }
    }
    Notify(notifications);
    return kStatusSuccess;
  }

  uint32_t Write(uint64_t handle, const TraceEventDescriptor* descriptor, uint32_t dataCount,
                 const TraceDataDescriptor* data) {
    if (descriptor == nullptr || dataCount > kMaxDataDescriptors ||
        (dataCount > 0 && data == nullptr)) {
      return kStatusInvalidParameter;
    }
    uint64_t total = 0;
    for (uint32_t i = 0; i < dataCount; ++i) {
      if (data[i].size > 0 && (data[i].pointer == 0 || data[i].pointer > UINTPTR_MAX)) {
        return kStatusInvalidParameter;
      }
      total += data[i].size;
    }
    if (total > kMaxPayloadBytes) return kStatusEventTooLarge;
    StoredEvent event{{}, *descriptor, dataCount, {}};
    event.payload.reserve(static_cast<size_t>(total));
    for (uint32_t i = 0; i < dataCount; ++i) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(data[i].pointer));
      event.payload.insert(event.payload.end(), bytes, bytes + data[i].size);
    }
    std::lock_guard state(state_);
    const Registration* registration = FindRegistration(handle);
    if (registration == nullptr) return kStatusInvalidHandle;
    event.provider = registration->provider;
    events_.push_back(std::move(event));
    return kStatusSuccess;
  }

  uint32_t Unregister(uint64_t handle) {
    std::lock_guard control(control_);
    std::lock_guard state(state_);
    for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
      if (it->handle == handle) {
        registrations_.erase(it);
        return kStatusSuccess;
      }
    }
    return kStatusInvalidHandle;
  }

  void Enable(const TraceGuid& provider, uint8_t level, uint64_t matchAny, uint64_t matchAll) {
    std::lock_guard control(control_);
    std::vector<Notification> notifications;
    {
      std::lock_guard state(state_);
      SessionEnable* session = FindSession(provider);
      if (session == nullptr) session = &sessions_.emplace_back();
      *session = {provider, level, matchAny, matchAll};
      for (const Registration& registration : registrations_) {
        if (registration.provider == provider) {
          notifications.push_back(EnableNotification(registration, *session));
        }
      }
    }
    Notify(notifications);
  }

  void Disable(const TraceGuid& provider) {
    std::lock_guard control(control_);
    std::vector<Notification> notifications;
    {
      std::lock_guard state(state_);
      if (!EndSession(provider, notifications)) return;
    }
    Notify(notifications);
  }

  bool IsRegistered(const TraceGuid& provider) {
    std::lock_guard state(state_);
    for (const Registration& registration : registrations_) {
      if (registration.provider == provider) return true;
    }
    return false;
  }

  void TakeEvents(KtxTraceEventSink sink, void* context) {
    std::vector<StoredEvent> events;
    {
      std::lock_guard state(state_);
      events.swap(events_);
    }
    if (sink == nullptr) return;
    for (const StoredEvent& event : events) {
      sink(context, &event.provider, &event.descriptor, event.dataCount, event.payload.data(),
           static_cast<uint32_t>(event.payload.size()));
    }
  }

  void Reset() {
    std::lock_guard control(control_);
    std::vector<Notification> notifications;
    {
      std::lock_guard state(state_);
      while (!sessions_.empty()) {
        const TraceGuid provider = sessions_.front().provider;  // a copy: the session goes
        EndSession(provider, notifications);
      }
      events_.clear();
    }
    Notify(notifications);
  }

 private:
  // Requires state_.
  SessionEnable* FindSession(const TraceGuid& provider) {
    for (SessionEnable& session : sessions_) {
      if (session.provider == provider) return &session;
    }
    return nullptr;
  }

  // Requires state_.
  const Registration* FindRegistration(uint64_t handle) const {
    for (const Registration& registration : registrations_) {
      if (registration.handle == handle) return &registration;
    }
    return nullptr;
  }

  // Removes the session of `provider` and queues its disable callbacks. Requires
  // state_. Returns false when there was no such session.
  bool EndSession(const TraceGuid& provider, std::vector<Notification>& notifications) {
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (!(it->provider == provider)) continue;
      sessions_.erase(it);
      for (const Registration& registration : registrations_) {
        if (registration.provider == provider) {
          notifications.push_back(
              {registration.callback, registration.context, kTraceControlDisable, 0, 0, 0});
        }
      }
      return true;
    }
    return false;
  }

  static Notification EnableNotification(const Registration& registration,
                                         const SessionEnable& session) {
    // A session that names no keyword wants every keyword.
    const uint64_t matchAny = session.matchAny == 0 ? ~uint64_t{0} : session.matchAny;
    return {
        registration.callback, registration.context, kTraceControlEnable, session.level, matchAny,
        session.matchAll};
  }

  // Requires control_, not state_.
  static void Notify(const std::vector<Notification>& notifications) {
    for (const Notification& n : notifications) {
      if (n.callback == nullptr) continue;
      n.callback(&kSessionSource, n.code, n.level, n.matchAny, n.matchAll, nullptr, n.context);
    }
  }

  Lock control_;
  Lock state_;
  std::vector<Registration> registrations_;
  std::vector<SessionEnable> sessions_;
  std::vector<StoredEvent> events_;
  uint64_t nextHandle_ = 1;
};

// Never destroyed: providers of other modules may unregister during exit, after
// this module's static objects are gone.
Service& LocalService() {
  static Service* const service = new Service();
  return *service;
}

uint32_t KTX_TRACE_CALL ServiceRegister(const TraceGuid* provider, TraceEnableCallback callback,
                                        void* context, uint64_t* handle) {
  return LocalService().Register(provider, callback, context, handle);
}

uint32_t KTX_TRACE_CALL ServiceWrite(uint64_t handle, const TraceEventDescriptor* descriptor,
                                     uint32_t dataCount, TraceDataDescriptor* data) {
  return LocalService().Write(handle, descriptor, dataCount, data);
}

uint32_t KTX_TRACE_CALL ServiceUnregister(uint64_t handle) {
  return LocalService().Unregister(handle);
}

void ServiceEnable(const TraceGuid* provider, uint8_t level, uint64_t matchAny, uint64_t matchAll) {
  if (provider != nullptr) LocalService().Enable(*provider, level, matchAny, matchAll);
}

void ServiceDisable(const TraceGuid* provider) {
  if (provider != nullptr) LocalService().Disable(*provider);
}

int ServiceIsRegistered(const TraceGuid* provider) {
  return provider != nullptr && LocalService().IsRegistered(*provider) ? 1 : 0;
}

void ServiceTakeEvents(KtxTraceEventSink sink, void* context) {
  LocalService().TakeEvents(sink, context);
}

void ServiceReset() { LocalService().Reset(); }

constexpr KtxTraceService kLocalServiceTable{
    sizeof(KtxTraceService), ServiceRegister,   ServiceWrite,
    ServiceUnregister,       ServiceEnable,     ServiceDisable,
    ServiceIsRegistered,     ServiceTakeEvents, ServiceReset};

const KtxTraceService& ResolveProcessTraceService() {
  using ServiceLookup = const KtxTraceService* (*)();
  void* symbol = dlsym(RTLD_DEFAULT, "ktx_trace_service");
  if (symbol != nullptr) {
    const KtxTraceService* table = reinterpret_cast<ServiceLookup>(symbol)();
    if (table != nullptr && table->size >= sizeof(KtxTraceService)) return *table;
  }
  return kLocalServiceTable;
}

}  // namespace

const KtxTraceService& ProcessTraceService() {
  static const KtxTraceService& service = ResolveProcessTraceService();
  return service;
}

const EventTraceFunctions& LoadEventTraceFunctions() {
  static const EventTraceFunctions functions{ProcessTraceService().registerProvider,
                                             ProcessTraceService().writeEvent,
                                             ProcessTraceService().unregisterProvider};
  return functions;
}

}  // namespace Tesk::Platform

extern "C" const KtxTraceService* ktx_trace_service(void) {
  return &Tesk::Platform::kLocalServiceTable;
}
