#include "plugin/plugin_manager_types.h"

#include "binding/binding_registry.h"

namespace Tesk {
namespace {

void RegisterEvent(BindingRegistry& registry, const char* name, const char* payloadType,
                   const char* description) {
  EventBuilder event = registry.BeginEvent(name, registry.FindTypeByName(payloadType));
  event.SetDescription(description);
  event.AddTag("qclient");
}

}  // namespace

void RegisterPluginManagerTypes(BindingRegistry& registry) {
  auto state = registry.BeginType<PluginManagerState>("PluginManagerState");
  state.Enumerator("NotReady", PluginManagerState::NotReady);
  state.Enumerator("PluginsInitialized", PluginManagerState::PluginsInitialized);

  auto manager = registry.BeginType<PluginManagerResource>("PluginManagerResource");
  manager.Field("state", &PluginManagerResource::state);

  auto eventType = registry.BeginType<PluginResourceEventType>("PluginResourceEventType");
  eventType.Enumerator("Create", PluginResourceEventType::Create);
  eventType.Enumerator("Update", PluginResourceEventType::Update);
  eventType.Enumerator("Delete", PluginResourceEventType::Delete);

  auto resource = registry.BeginType<PluginResourceEvent>("PluginResourceEvent");
  resource.Field("uri", &PluginResourceEvent::uri);
  resource.Field("eventType", &PluginResourceEvent::eventType);
  resource.Field("data", &PluginResourceEvent::data);

  auto lcds = registry.BeginType<PluginLcdsEvent>("PluginLcdsEvent");
  lcds.Field("clientId", &PluginLcdsEvent::clientId);
  lcds.Field("subtopic", &PluginLcdsEvent::subtopic);
  lcds.Field("typeName", &PluginLcdsEvent::typeName);
  lcds.Field("body", &PluginLcdsEvent::body);

  auto lcdsResponse = registry.BeginType<PluginLcdsResponse>("PluginLcdsResponse");
  lcdsResponse.Field("typeName", &PluginLcdsResponse::typeName);
  lcdsResponse.Field("body", &PluginLcdsResponse::body);

  auto proxy = registry.BeginType<PluginServiceProxyResponse>("PluginServiceProxyResponse");
  proxy.Field("uuid", &PluginServiceProxyResponse::uuid);
  proxy.Field("serviceName", &PluginServiceProxyResponse::serviceName);
  proxy.Field("methodName", &PluginServiceProxyResponse::methodName);
  proxy.Field("payload", &PluginServiceProxyResponse::payload);
  proxy.Field("status", &PluginServiceProxyResponse::status);
  proxy.Field("error", &PluginServiceProxyResponse::error);

  RegisterEvent(registry, kJsonApiEventName, "PluginResourceEvent",
                "Fired when a resource is changed.");
  RegisterEvent(registry, kLcdsEventName, "PluginLcdsEvent",
                "Fired when a message is received over the LCDS connection.");
  RegisterEvent(registry, kServiceProxyUuidEventName, "PluginServiceProxyResponse",
                "Fired when a uuid-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyMethodEventName, "PluginServiceProxyResponse",
                "Fired when a method-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyAsyncEventName, "PluginServiceProxyResponse",
                "Fired when an async service proxy message is received.");
}

}  // namespace Tesk
