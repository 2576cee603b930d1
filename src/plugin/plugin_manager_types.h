// The builtin types every plug-in registers at load: the plug-in manager's
// state, resource events, LCDS messages and service-proxy answers, with their
// fixed type ids, and the five events that carry them.
#pragma once

#include <cstdint>
#include <string>

#include "binding/binding_property.h"
#include "binding/type_key.h"

namespace Tesk {

class BindingRegistry;

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

// A JSON-API resource was created, updated or deleted; `data` is its new
// content (empty for Delete).
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

// A message of the LCDS channel; `typeName` is the class name of `body`.
struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

// An answer relayed by the host's service proxy.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

template <>
struct TypeKeyFixedId<PluginManagerState> {
  static constexpr uint32_t value = 0xF4E3B901;
};
template <>
struct TypeKeyFixedId<PluginResourceEventType> {
  static constexpr uint32_t value = 0xDC24D2AD;
};
template <>
struct TypeKeyFixedId<PluginManagerResource> {
  static constexpr uint32_t value = 0xFA58397C;
};
template <>
struct TypeKeyFixedId<PluginResourceEvent> {
  static constexpr uint32_t value = 0xA54F35FD;
};
template <>
struct TypeKeyFixedId<PluginLcdsEvent> {
  static constexpr uint32_t value = 0x739F2EF4;
};
template <>
struct TypeKeyFixedId<PluginLcdsResponse> {
  static constexpr uint32_t value = 0xF4476A4F;
};
template <>
struct TypeKeyFixedId<PluginServiceProxyResponse> {
  static constexpr uint32_t value = 0x2C5E7588;
};

// The names of the builtin events.
inline constexpr char kJsonApiEventName[] = "OnJsonApiEvent";
inline constexpr char kLcdsEventName[] = "OnLcdsEvent";
inline constexpr char kServiceProxyUuidEventName[] = "OnServiceProxyUuidEvent";
inline constexpr char kServiceProxyMethodEventName[] = "OnServiceProxyMethodEvent";
inline constexpr char kServiceProxyAsyncEventName[] = "OnServiceProxyAsyncEvent";

// Registers the types above and the five events; a type or event registered
// before is left as it is.
void RegisterPluginManagerTypes(BindingRegistry& registry);

}  // namespace Tesk
