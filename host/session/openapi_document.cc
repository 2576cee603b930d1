#include "session/openapi_document.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

#include "encoding/json_support.h"
#include "rest/published_routes.h"

namespace Tesk::DevHost {
namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

// Value type codes of the API description.
enum TypeCode : uint32_t {
  kBool = 1,
  kInt8 = 2,
  kUInt32 = 7,
  kInt64 = 8,
  kUInt64 = 9,
  kFloat = 10,
  kDouble = 11,
  kString = 12,
  kObject = 13,
  kBlob = 14,
  kVector = 15,
  kEnum = 16,
  kStruct = 17,
  kMap = 19,
};

// Location codes of a function's parameters.
enum Location : uint32_t { kAnywhere = 0, kQuery = 1, kPath = 2, kHeader = 4, kBody = 5 };

Value Text(std::string_view text, Allocator& a) {
  return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), a);
}

std::string TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

Value Reference(const std::string& typeName, Allocator& a) {
  Value schema(rapidjson::kObjectType);
  schema.AddMember("$ref", Text("#/components/schemas/" + typeName, a), a);
  return schema;
}

// The resource whose changes a resource event announces, as clients
// subscribe to it: "OnJsonApiEvent_tav-login_v1_session" is
// "/tav-login/v1/session". Empty for the generic events and for others.
std::string ResourceOfEvent(std::string_view name) {
  constexpr std::string_view kPrefix = "OnJsonApiEvent_";
  if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) return {};
  std::string resource = "/" + std::string(name.substr(kPrefix.size()));
  std::replace(resource.begin(), resource.end(), '_', '/');
  return resource;
}

Value Schema(uint32_t type, uint32_t elementType, const std::string& typeName, Allocator& a,
             int depth = 0) {
  Value schema(rapidjson::kObjectType);
  switch (type) {
    case kBool:
      schema.AddMember("type", "boolean", a);
      break;
    case kFloat:
    case kDouble:
      schema.AddMember("type", "number", a);
      schema.AddMember("format", rapidjson::StringRef(type == kFloat ? "float" : "double"), a);
      break;
    case kString:
      schema.AddMember("type", "string", a);
      break;
    case kBlob:
      schema.AddMember("type", "string", a);
      schema.AddMember("format", "byte", a);
      break;
    case kVector:
    case kMap: {
      // Elements that are themselves lists or maps are described as any value.
      Value items =
          depth == 0 ? Schema(elementType, 0, typeName, a, 1) : Value(rapidjson::kObjectType);
      schema.AddMember("type", rapidjson::StringRef(type == kVector ? "array" : "object"), a);
      schema.AddMember(rapidjson::StringRef(type == kVector ? "items" : "additionalProperties"),
                       items, a);
      break;
    }
    case kEnum:
    case kStruct:
      if (!typeName.empty()) return Reference(typeName, a);
      schema.AddMember("type", rapidjson::StringRef(type == kEnum ? "string" : "object"), a);
      break;
    default:
      if (type >= kInt8 && type <= kUInt64) {
        // int32 holds the narrower types; an unsigned 32-bit value needs int64.
        schema.AddMember("type", "integer", a);
        schema.AddMember("format", rapidjson::StringRef(type >= kUInt32 ? "int64" : "int32"), a);
        if (type % 2 == 1) schema.AddMember("minimum", 0, a);  // the unsigned codes
        if (type == kUInt32) schema.AddMember("maximum", UINT32_MAX, a);
      }
      break;  // object, callback and no type: any value
  }
  return schema;
}

Value TypeSchema(const ApiTypeRecord& type, Allocator& a) {
  Value schema(rapidjson::kObjectType);
  const std::string description = TextOrEmpty(type.description);
  if (type.enumerators != nullptr) {
    schema.AddMember("type", "string", a);
    Value names(rapidjson::kArrayType);
    for (const ApiEnumeratorRecord* e = type.enumerators; e != nullptr; e = e->next) {
      names.PushBack(Text(TextOrEmpty(e->name), a), a);
    }
    schema.AddMember("enum", names, a);
  } else {
    schema.AddMember("type", "object", a);
    Value properties(rapidjson::kObjectType);
    for (const ApiFieldRecord* f = type.fields; f != nullptr; f = f->next) {
      Value field = Schema(f->type, f->elementType, TextOrEmpty(f->typeName), a);
      const std::string fieldDescription = TextOrEmpty(f->description);
      if (!fieldDescription.empty() && !field.HasMember("$ref")) {
        field.AddMember("description", Text(fieldDescription, a), a);
      }
      properties.AddMember(Text(TextOrEmpty(f->name), a), field, a);
    }
    schema.AddMember("properties", properties, a);
  }
  if (!description.empty()) schema.AddMember("description", Text(description, a), a);
  return schema;
}

Value JsonContent(Value schema, Allocator& a) {
  Value media(rapidjson::kObjectType);
  media.AddMember("schema", schema, a);
  Value content(rapidjson::kObjectType);
  content.AddMember("application/json", media, a);
  return content;
}

Value ErrorResponse(const char* description, Allocator& a) {
  Value response(rapidjson::kObjectType);
  response.AddMember("description", Value(description, a), a);
  response.AddMember("content", JsonContent(Reference("Error", a), a), a);
  return response;
}

// "{+path}" and "{#frag}" as OpenAPI writes placeholders; the names in order.
std::string OpenApiPath(const std::string& urlTemplate, std::vector<std::string>& placeholders) {
  std::string path;
  for (size_t i = 0; i < urlTemplate.size(); ++i) {
    if (urlTemplate[i] != '{') {
      path += urlTemplate[i];
      continue;
    }
    const size_t close = urlTemplate.find('}', i);
    if (close == std::string::npos) {
      path += urlTemplate.substr(i);
      break;
    }
    std::string name = urlTemplate.substr(i + 1, close - i - 1);
    if (!name.empty() && (name.front() == '+' || name.front() == '#')) name.erase(0, 1);
    placeholders.push_back(name);
    path += "{" + name + "}";
    i = close;
  }
  return path;
}

Value Operation(const FunctionTableRecord& record, const std::string& tag,
                const std::vector<std::string>& placeholders, uint32_t method, Allocator& a) {
  const ApiFunctionRecord& function = record.function;
  Value operation(rapidjson::kObjectType);
  operation.AddMember("operationId", Text(TextOrEmpty(function.name), a), a);
  Value tags(rapidjson::kArrayType);
  tags.PushBack(Text(tag, a), a);
  operation.AddMember("tags", tags, a);
  const std::string description = TextOrEmpty(function.description);
  if (!description.empty()) operation.AddMember("summary", Text(description, a), a);

  Value parameters(rapidjson::kArrayType);
  const ApiLocationEntry* location = record.locations;
  bool bodyTaken = false;
  for (const ApiArgumentRecord* argument = function.arguments; argument != nullptr;
       argument = argument->next, location = location != nullptr ? location->next : nullptr) {
    const std::string name = TextOrEmpty(argument->name);
    uint32_t where = location != nullptr ? location->location : kAnywhere;
    Value schema =
        Schema(argument->type, argument->elementType, TextOrEmpty(argument->typeName), a);
    if (where == kAnywhere) {
      const bool isPlaceholder =
          std::find(placeholders.begin(), placeholders.end(), name) != placeholders.end();
      where = isPlaceholder ? kPath : kQuery;
    }
    if (where == kBody) {
      if (bodyTaken) continue;
      bodyTaken = true;
      Value body(rapidjson::kObjectType);
      body.AddMember("required", argument->optional == 0, a);
      body.AddMember("content", JsonContent(std::move(schema), a), a);
      operation.AddMember("requestBody", body, a);
      continue;
    }
    Value parameter(rapidjson::kObjectType);
    parameter.AddMember("name", Text(name, a), a);
    parameter.AddMember("in",
                        rapidjson::StringRef(where == kPath     ? "path"
                                             : where == kHeader ? "header"
                                                                : "query"),
                        a);
    parameter.AddMember("required", where == kPath || argument->optional == 0, a);
    const std::string argumentDescription = TextOrEmpty(argument->description);
    if (!argumentDescription.empty()) {
      parameter.AddMember("description", Text(argumentDescription, a), a);
    }
    parameter.AddMember("schema", schema, a);
    parameters.PushBack(parameter, a);
  }
  // A placeholder without an argument of its name still takes a path value.
  for (const std::string& name : placeholders) {
    bool declared = false;
    for (const auto& parameter : parameters.GetArray()) {
      declared = declared || (parameter["name"].GetString() == name);
    }
    if (declared) continue;
    Value parameter(rapidjson::kObjectType);
    parameter.AddMember("name", Text(name, a), a);
    parameter.AddMember("in", "path", a);
    parameter.AddMember("required", true, a);
    Value schema(rapidjson::kObjectType);
    schema.AddMember("type", "string", a);
    parameter.AddMember("schema", schema, a);
    parameters.PushBack(parameter, a);
  }
  if (!parameters.Empty()) operation.AddMember("parameters", parameters, a);

  Value responses(rapidjson::kObjectType);
  Value ok(rapidjson::kObjectType);
  ok.AddMember("description", "The function's result", a);
  if (function.returnType != 0 && method != 3) {
    ok.AddMember("content",
                 JsonContent(Schema(function.returnType, function.returnElementType,
                                    TextOrEmpty(function.returnTypeName), a),
                             a),
                 a);
  }
  responses.AddMember("200", ok, a);
  responses.AddMember("400", ErrorResponse("Arguments or body that the function refused", a), a);
  responses.AddMember("401", ErrorResponse("Missing or wrong token", a), a);
  responses.AddMember("default", ErrorResponse("The function's error, with its status", a), a);
  operation.AddMember("responses", responses, a);
  return operation;
}

// One of the host's own endpoints.
struct HostEndpoint {
  const char* path;
  const char* method;
  const char* summary;
  bool jsonBody;
  bool uriParameter;
};

constexpr HostEndpoint kHostEndpoints[] = {
    {"/host/v1/status", "get", "The plug-in's state: subscriptions, callbacks, memory", false,
     false},
    {"/host/v1/resources", "get", "The URIs of the resources the host holds", false, false},
    {"/host/v1/resources/{uri}", "get", "A held resource", false, true},
    {"/host/v1/resources/{uri}", "put", "Creates or changes a resource; sends its event", true,
     true},
    {"/host/v1/resources/{uri}", "delete", "Deletes a resource; sends its event", false, true},
    {"/host/v1/lcds", "post",
     "Delivers an LCDS message {typeName, body, clientId, subtopic} to its subscribers", true,
     false},
    {"/host/v1/telemetry", "get", "The latest telemetry events the plug-in posted", false, false},
};

void AddHostEndpoints(Value& paths, Allocator& a) {
  for (const HostEndpoint& endpoint : kHostEndpoints) {
    Value operation(rapidjson::kObjectType);
    Value tags(rapidjson::kArrayType);
    tags.PushBack("host", a);
    operation.AddMember("tags", tags, a);
    operation.AddMember("summary", Value(endpoint.summary, a), a);
    if (endpoint.uriParameter) {
      Value parameter(rapidjson::kObjectType);
      parameter.AddMember("name", "uri", a);
      parameter.AddMember("in", "path", a);
      parameter.AddMember("required", true, a);
      parameter.AddMember("description",
                          "The resource's URI without its leading \"/\", such as "
                          "tav-login/v1/session",
                          a);
      Value schema(rapidjson::kObjectType);
      schema.AddMember("type", "string", a);
      parameter.AddMember("schema", schema, a);
      Value parameters(rapidjson::kArrayType);
      parameters.PushBack(parameter, a);
      operation.AddMember("parameters", parameters, a);
    }
    if (endpoint.jsonBody) {
      Value body(rapidjson::kObjectType);
      body.AddMember("required", true, a);
      body.AddMember("content", JsonContent(Value(rapidjson::kObjectType), a), a);
      operation.AddMember("requestBody", body, a);
    }
    Value responses(rapidjson::kObjectType);
    Value ok(rapidjson::kObjectType);
    ok.AddMember("description", "Done", a);
    ok.AddMember("content", JsonContent(Value(rapidjson::kObjectType), a), a);
    responses.AddMember("200", ok, a);
    responses.AddMember("default", ErrorResponse("The failure", a), a);
    operation.AddMember("responses", responses, a);
    Value key(endpoint.path, a);
    if (!paths.HasMember(key)) paths.AddMember(key, Value(rapidjson::kObjectType), a);
    paths[endpoint.path].AddMember(Value(endpoint.method, a), operation, a);
  }
}

}  // namespace

std::string MakeOpenApiDocument(const FunctionTable* table, const std::string& title) {
  rapidjson::Document document(rapidjson::kObjectType);
  Allocator& a = document.GetAllocator();
  document.AddMember("openapi", "3.0.3", a);
  Value info(rapidjson::kObjectType);
  info.AddMember("title", Text(title, a), a);
  info.AddMember("version", "18.0.0", a);
  info.AddMember("description",
                 Text("The functions the plug-in " + title +
                          " published, served by the development host. Events stream over "
                          "WebSocket (/ws) and Server-Sent Events (/events); see x-events.",
                      a),
                 a);
  document.AddMember("info", info, a);

  Value paths(rapidjson::kObjectType);
  Value schemas(rapidjson::kObjectType);
  Value events(rapidjson::kArrayType);
  if (table != nullptr) {
    const auto* record = static_cast<const FunctionTableRecord*>(table->functions);
    for (uint32_t i = 0; record != nullptr && i < table->functionCount; ++i) {
      const uint32_t method = record->method;
      if (method >= 1 && method <= 7) {
        std::vector<std::string> placeholders;
        const std::string path = OpenApiPath(TextOrEmpty(record->urlTemplate), placeholders);
        std::string verb = MethodName(method);
        std::transform(verb.begin(), verb.end(), verb.begin(), ::tolower);
        Value key = Text(path, a);
        if (!paths.HasMember(key)) paths.AddMember(key, Value(rapidjson::kObjectType), a);
        Value& item = paths[path.c_str()];
        if (!item.HasMember(verb.c_str())) {
          item.AddMember(Text(verb, a), Operation(*record, title, placeholders, method, a), a);
        }
      }
      record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
    }
    for (const ApiTypeRecord* type = table->types; type != nullptr; type = type->next) {
      const std::string name = TextOrEmpty(type->name);
      if (!name.empty() && !schemas.HasMember(name.c_str())) {
        schemas.AddMember(Text(name, a), TypeSchema(*type, a), a);
      }
    }
    for (const ApiEventRecord* event = table->events; event != nullptr; event = event->next) {
      const std::string name = TextOrEmpty(event->name);
      const std::string payload = TextOrEmpty(event->payloadType);
      Value entry(rapidjson::kObjectType);
      entry.AddMember("name", Text(name, a), a);
      const std::string resource = ResourceOfEvent(name);
      if (!resource.empty()) entry.AddMember("resource", Text(resource, a), a);
      entry.AddMember("payload", Text(payload, a), a);
      if (schemas.HasMember(payload.c_str())) {
        entry.AddMember("payloadSchema", Reference(payload, a), a);
      }
      entry.AddMember("description", Text(TextOrEmpty(event->description), a), a);
      events.PushBack(entry, a);
    }
  }
  AddHostEndpoints(paths, a);
  document.AddMember("paths", paths, a);

  Value error(rapidjson::kObjectType);
  error.AddMember("type", "object", a);
  Value errorProperties(rapidjson::kObjectType);
  Value message(rapidjson::kObjectType);
  message.AddMember("type", "string", a);
  errorProperties.AddMember("message", message, a);
  error.AddMember("properties", errorProperties, a);
  if (!schemas.HasMember("Error")) schemas.AddMember("Error", error, a);

  Value security(rapidjson::kObjectType);
  Value bearer(rapidjson::kObjectType);
  bearer.AddMember("type", "http", a);
  bearer.AddMember("scheme", "bearer", a);
  security.AddMember("token", bearer, a);
  Value basic(rapidjson::kObjectType);
  basic.AddMember("type", "http", a);
  basic.AddMember("scheme", "basic", a);
  security.AddMember("basic", basic, a);
  Value components(rapidjson::kObjectType);
  components.AddMember("schemas", schemas, a);
  components.AddMember("securitySchemes", security, a);
  document.AddMember("components", components, a);

  Value requirements(rapidjson::kArrayType);
  for (const char* scheme : {"token", "basic"}) {
    Value requirement(rapidjson::kObjectType);
    requirement.AddMember(Value(scheme, a), Value(rapidjson::kArrayType), a);
    requirements.PushBack(requirement, a);
  }
  document.AddMember("security", requirements, a);
  document.AddMember("x-events", events, a);
  return WriteJson(document);
}

}  // namespace Tesk::DevHost
