#include "host/support/openapi_check.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <set>
#include <span>
#include <string_view>

namespace Tesk::Testing {
namespace {

using rapidjson::Value;

// Deeper schemas than this are reported rather than followed (a "$ref" cycle).
constexpr int kMaxDepth = 64;

using Names = std::span<const std::string_view>;
using List = std::initializer_list<std::string_view>;

constexpr std::string_view kRootFields[] = {"openapi",    "info",     "servers", "paths",
                                            "components", "security", "tags",    "externalDocs"};
constexpr std::string_view kInfoFields[] = {"title",   "description", "termsOfService",
                                            "contact", "license",     "version"};
constexpr std::string_view kTagFields[] = {"name", "description", "externalDocs"};
constexpr std::string_view kPathItemFields[] = {"$ref",  "summary", "description", "get",  "put",
                                                "post",  "delete",  "options",     "head", "patch",
                                                "trace", "servers", "parameters"};
constexpr std::string_view kMethods[] = {"get",     "put",  "post",  "delete",
                                         "options", "head", "patch", "trace"};
constexpr std::string_view kOperationFields[] = {
    "tags",        "summary",   "description", "externalDocs", "operationId", "parameters",
    "requestBody", "responses", "callbacks",   "deprecated",   "security",    "servers"};
constexpr std::string_view kParameterFields[] = {
    "name",   "in",      "description",   "required", "deprecated", "allowEmptyValue",
    "style",  "explode", "allowReserved", "schema",   "example",    "examples",
    "content"};
constexpr std::string_view kLocations[] = {"query", "header", "path", "cookie"};
constexpr std::string_view kRequestBodyFields[] = {"description", "content", "required"};
constexpr std::string_view kResponseFields[] = {"description", "headers", "content", "links"};
constexpr std::string_view kMediaTypeFields[] = {"schema", "example", "examples", "encoding"};
constexpr std::string_view kComponentsFields[] = {"schemas",         "responses",     "parameters",
                                                  "examples",        "requestBodies", "headers",
                                                  "securitySchemes", "links",         "callbacks"};
constexpr std::string_view kSchemaFields[] = {"title",         "multipleOf",
                                              "maximum",       "exclusiveMaximum",
                                              "minimum",       "exclusiveMinimum",
                                              "maxLength",     "minLength",
                                              "pattern",       "maxItems",
                                              "minItems",      "uniqueItems",
                                              "maxProperties", "minProperties",
                                              "required",      "enum",
                                              "type",          "allOf",
                                              "oneOf",         "anyOf",
                                              "not",           "items",
                                              "properties",    "additionalProperties",
                                              "description",   "format",
                                              "default",       "nullable",
                                              "discriminator", "readOnly",
                                              "writeOnly",     "xml",
                                              "externalDocs",  "example",
                                              "deprecated"};
constexpr std::string_view kSchemaTypes[] = {"integer", "number", "string",
                                             "boolean", "array",  "object"};
constexpr std::string_view kSchemeTypes[] = {"apiKey", "http", "oauth2", "openIdConnect"};

bool OneOf(std::string_view name, Names names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string_view NameOf(const Value& name) { return {name.GetString(), name.GetStringLength()}; }

// One reference token of a JSON pointer.
std::string Escape(std::string_view token) {
  std::string escaped;
  for (const char c : token) {
    if (c == '~') {
      escaped += "~0";
    } else if (c == '/') {
      escaped += "~1";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string Child(const std::string& pointer, std::string_view token) {
  return pointer + "/" + Escape(token);
}

// A reference inside the document ("#/a/b~1c"); null when it leads nowhere.
const Value* Resolve(const Value& document, std::string_view reference) {
  if (!reference.starts_with("#")) return nullptr;
  reference.remove_prefix(1);
  const Value* at = &document;
  while (!reference.empty()) {
    if (reference.front() != '/') return nullptr;
    reference.remove_prefix(1);
    const size_t end = std::min(reference.find('/'), reference.size());
    std::string token;
    for (size_t i = 0; i < end; ++i) {
      if (reference[i] == '~' && i + 1 < end &&
          (reference[i + 1] == '0' || reference[i + 1] == '1')) {
        token += reference[i + 1] == '0' ? '~' : '/';
        ++i;
      } else {
        token += reference[i];
      }
    }
    reference.remove_prefix(end);
    if (at->IsObject()) {
      const auto member =
          at->FindMember(Value(token.data(), static_cast<rapidjson::SizeType>(token.size())));
      if (member == at->MemberEnd()) return nullptr;
      at = &member->value;
    } else if (at->IsArray()) {
      size_t index = 0;
      const auto [last, error] = std::from_chars(token.data(), token.data() + token.size(), index);
      if (error != std::errc() || last != token.data() + token.size() || index >= at->Size()) {
        return nullptr;
      }
      at = &(*at)[static_cast<rapidjson::SizeType>(index)];
    } else {
      return nullptr;
    }
  }
  return at;
}

// The placeholders of a templated path, in order ("/a/{id}/b" gives "id").
std::vector<std::string> Placeholders(std::string_view path) {
  std::vector<std::string> names;
  for (size_t open = path.find('{'); open != std::string_view::npos;
       open = path.find('{', open + 1)) {
    const size_t close = path.find('}', open);
    if (close == std::string_view::npos) break;
    names.emplace_back(path.substr(open + 1, close - open - 1));
  }
  return names;
}

// The path with every placeholder's name left out: two paths that differ only
// in their placeholders' names are the same path.
std::string Shape(std::string_view path) {
  std::string shape;
  bool inside = false;
  for (const char c : path) {
    if (c == '}') inside = false;
    if (!inside) shape += c;
    if (c == '{') inside = true;
  }
  return shape;
}

bool IsResponseCode(std::string_view code) {
  if (code == "default") return true;
  if (code.size() != 3 || code[0] < '1' || code[0] > '5') return false;
  const bool digits = std::isdigit(static_cast<unsigned char>(code[1])) &&
                      std::isdigit(static_cast<unsigned char>(code[2]));
  return digits || code.substr(1) == "XX";
}

bool IsComponentName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

class StructureCheck {
 public:
  explicit StructureCheck(const Value& document) : document_(document) {}

  std::vector<std::string> Run() {
    if (!Fields(document_, "", kRootFields, {"openapi", "info", "paths"})) return problems_;
    const Value& version = document_["openapi"];
    if (!version.IsString() || NameOf(version) != "3.0.3") {
      Problem("/openapi", "is not the text \"3.0.3\"");
    }
    Info(document_["info"]);
    if (document_.HasMember("components")) Components(document_["components"]);
    Paths(document_["paths"]);
    if (document_.HasMember("security")) Security(document_["security"], "/security");
    if (document_.HasMember("tags")) Tags(document_["tags"]);
    References(document_, "");
    return problems_;
  }

 private:
  void Problem(const std::string& where, const std::string& what) {
    problems_.push_back((where.empty() ? "/" : where) + ": " + what);
  }

  // An object with only `allowed` fields (and extensions), and every one of
  // `required`. False when it is not an object at all.
  bool Fields(const Value& object, const std::string& where, Names allowed, List required) {
    if (!object.IsObject()) {
      Problem(where, "is not an object");
      return false;
    }
    for (const auto& member : object.GetObject()) {
      const std::string_view name = NameOf(member.name);
      if (!OneOf(name, allowed) && !name.starts_with("x-")) {
        Problem(Child(where, name), "is not a field of this object");
      }
    }
    for (const std::string_view name : required) {
      if (!object.HasMember(Value(name.data(), static_cast<rapidjson::SizeType>(name.size())))) {
        Problem(where, "lacks the required field \"" + std::string(name) + "\"");
      }
    }
    return true;
  }

  // Members that must have one JSON kind when present.
  void Texts(const Value& object, const std::string& where, List names) {
    for (const std::string_view name : names) {
      const auto member =
          object.FindMember(Value(name.data(), static_cast<rapidjson::SizeType>(name.size())));
      if (member != object.MemberEnd() && !member->value.IsString()) {
        Problem(Child(where, name), "is not a text");
      }
    }
  }
  void Flags(const Value& object, const std::string& where, List names) {
    for (const std::string_view name : names) {
      const auto member =
          object.FindMember(Value(name.data(), static_cast<rapidjson::SizeType>(name.size())));
      if (member != object.MemberEnd() && !member->value.IsBool()) {
        Problem(Child(where, name), "is not true or false");
      }
    }
  }

  void Info(const Value& info) {
    if (!Fields(info, "/info", kInfoFields, {"title", "version"})) return;
    Texts(info, "/info", {"title", "description", "termsOfService", "version"});
  }

  void Tags(const Value& tags) {
    if (!tags.IsArray()) return Problem("/tags", "is not a list");
    for (rapidjson::SizeType i = 0; i < tags.Size(); ++i) {
      const std::string where = "/tags/" + std::to_string(i);
      if (Fields(tags[i], where, kTagFields, {"name"})) {
        Texts(tags[i], where, {"name", "description"});
      }
    }
  }

  void Paths(const Value& paths) {
    if (!paths.IsObject()) return Problem("/paths", "is not an object");
    std::set<std::string> shapes;
    for (const auto& entry : paths.GetObject()) {
      const std::string_view path = NameOf(entry.name);
      if (path.starts_with("x-")) continue;
      const std::string where = Child("/paths", path);
      if (!path.starts_with("/")) Problem(where, "does not start with \"/\"");
      if (!shapes.insert(Shape(path)).second) {
        Problem(where, "differs from another path only in its placeholders' names");
      }
      const Value& item = entry.value;
      if (!Fields(item, where, kPathItemFields, {})) continue;
      std::vector<std::pair<std::string, std::string>> shared;  // name, location
      if (item.HasMember("parameters")) {
        shared = Parameters(item["parameters"], Child(where, "parameters"));
      }
      for (const std::string_view method : kMethods) {
        const auto operation =
            item.FindMember(Value(method.data(), static_cast<rapidjson::SizeType>(method.size())));
        if (operation == item.MemberEnd()) continue;
        Operation(operation->value, Child(where, method), Placeholders(path), shared);
      }
    }
  }

  void Operation(const Value& operation, const std::string& where,
                 const std::vector<std::string>& placeholders,
                 std::vector<std::pair<std::string, std::string>> parameters) {
    if (!Fields(operation, where, kOperationFields, {"responses"})) return;
    Texts(operation, where, {"summary", "description", "operationId"});
    Flags(operation, where, {"deprecated"});
    if (operation.HasMember("operationId") && operation["operationId"].IsString() &&
        !operationIds_.insert(operation["operationId"].GetString()).second) {
      Problem(Child(where, "operationId"), "is used by another operation too");
    }
    if (operation.HasMember("tags")) {
      const Value& tags = operation["tags"];
      if (!tags.IsArray() ||
          !std::all_of(tags.Begin(), tags.End(), [](const Value& tag) { return tag.IsString(); })) {
        Problem(Child(where, "tags"), "is not a list of texts");
      }
    }
    if (operation.HasMember("parameters")) {
      // An operation's parameter replaces the path's of the same name and location.
      for (auto& parameter : Parameters(operation["parameters"], Child(where, "parameters"))) {
        if (std::find(parameters.begin(), parameters.end(), parameter) == parameters.end()) {
          parameters.push_back(std::move(parameter));
        }
      }
    }
    for (const std::string& name : placeholders) {
      if (std::find(parameters.begin(), parameters.end(),
                    std::make_pair(name, std::string("path"))) == parameters.end()) {
        Problem(where, "does not declare the path parameter \"" + name + "\"");
      }
    }
    for (const auto& [name, location] : parameters) {
      if (location == "path" &&
          std::find(placeholders.begin(), placeholders.end(), name) == placeholders.end()) {
        Problem(where, "declares the path parameter \"" + name + "\" that its path does not have");
      }
    }
    if (operation.HasMember("requestBody")) {
      const std::string at = Child(where, "requestBody");
      const Value* body = Follow(operation["requestBody"], at);
      if (body != nullptr && Fields(*body, at, kRequestBodyFields, {"content"})) {
        Flags(*body, at, {"required"});
        Content((*body)["content"], Child(at, "content"), /*needed=*/true);
      }
    }
    Responses(operation["responses"], Child(where, "responses"));
    if (operation.HasMember("security")) Security(operation["security"], Child(where, "security"));
  }

  // A "$ref" object's target, or the object itself; null when it resolves to nothing.
  const Value* Follow(const Value& value, const std::string& where) {
    if (!value.IsObject() || !value.HasMember("$ref")) return &value;
    const Value& reference = value["$ref"];
    const Value* target = reference.IsString() ? Resolve(document_, NameOf(reference)) : nullptr;
    if (target == nullptr) Problem(Child(where, "$ref"), "does not resolve");
    return target;
  }

  // The (name, location) pairs declared; duplicates are reported.
  std::vector<std::pair<std::string, std::string>> Parameters(const Value& list,
                                                              const std::string& where) {
    std::vector<std::pair<std::string, std::string>> declared;
    if (!list.IsArray()) {
      Problem(where, "is not a list");
      return declared;
    }
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
      const std::string at = where + "/" + std::to_string(i);
      const Value* parameter = Follow(list[i], at);
      if (parameter == nullptr || !Fields(*parameter, at, kParameterFields, {"name", "in"})) {
        continue;
      }
      Texts(*parameter, at, {"name", "in", "description", "style"});
      Flags(*parameter, at,
            {"required", "deprecated", "allowEmptyValue", "explode", "allowReserved"});
      const Value& name = (*parameter)["name"];
      const Value& location = (*parameter)["in"];
      if (!name.IsString() || !location.IsString()) continue;
      if (!OneOf(NameOf(location), kLocations)) Problem(Child(at, "in"), "is not a location");
      const bool required = parameter->HasMember("required") && (*parameter)["required"].IsBool() &&
                            (*parameter)["required"].GetBool();
      if (NameOf(location) == "path" && !required) Problem(at, "is a path parameter not required");
      if (parameter->HasMember("schema") == parameter->HasMember("content")) {
        Problem(at, "needs either a schema or a content, not both");
      }
      if (parameter->HasMember("schema")) Schema((*parameter)["schema"], Child(at, "schema"), 0);
      if (parameter->HasMember("content")) {
        Content((*parameter)["content"], Child(at, "content"), /*needed=*/true);
      }
      std::pair<std::string, std::string> key{name.GetString(), location.GetString()};
      if (std::find(declared.begin(), declared.end(), key) != declared.end()) {
        Problem(at, "declares \"" + key.first + "\" in " + key.second + " twice");
      }
      declared.push_back(std::move(key));
    }
    return declared;
  }

  void Content(const Value& content, const std::string& where, bool needed) {
    if (!content.IsObject()) return Problem(where, "is not an object");
    if (needed && content.MemberCount() == 0) Problem(where, "names no media type");
    for (const auto& media : content.GetObject()) {
      const std::string at = Child(where, NameOf(media.name));
      if (NameOf(media.name).find('/') == std::string_view::npos) {
        Problem(at, "is not a media type");
      }
      if (Fields(media.value, at, kMediaTypeFields, {}) && media.value.HasMember("schema")) {
        Schema(media.value["schema"], Child(at, "schema"), 0);
      }
    }
  }

  void Responses(const Value& responses, const std::string& where) {
    if (!responses.IsObject() || responses.MemberCount() == 0) {
      return Problem(where, "is not an object of at least one response");
    }
    for (const auto& entry : responses.GetObject()) {
      const std::string_view code = NameOf(entry.name);
      if (code.starts_with("x-")) continue;
      const std::string at = Child(where, code);
      if (!IsResponseCode(code)) Problem(at, "is not a status code, a range or \"default\"");
      const Value* response = Follow(entry.value, at);
      if (response == nullptr || !Fields(*response, at, kResponseFields, {"description"})) continue;
      Texts(*response, at, {"description"});
      if (response->HasMember("content")) {
        Content((*response)["content"], Child(at, "content"), /*needed=*/false);
      }
    }
  }

  void Schema(const Value& schema, const std::string& where, int depth) {
    if (depth > kMaxDepth) return Problem(where, "nests too deep");
    if (!schema.IsObject()) return Problem(where, "is not a schema object");
    if (schema.HasMember("$ref")) {
      if (schema.MemberCount() != 1)
        Problem(where, "has members beside \"$ref\", which are ignored");
      return;  // its target is checked where it is declared
    }
    if (!Fields(schema, where, kSchemaFields, {})) return;
    Texts(schema, where, {"title", "pattern", "description", "format"});
    Flags(schema, where,
          {"exclusiveMaximum", "exclusiveMinimum", "uniqueItems", "nullable", "readOnly",
           "writeOnly", "deprecated"});
    for (const char* number : {"multipleOf", "maximum", "minimum"}) {
      if (schema.HasMember(number) && !schema[number].IsNumber()) {
        Problem(Child(where, number), "is not a number");
      }
    }
    for (const char* count :
         {"maxLength", "minLength", "maxItems", "minItems", "maxProperties", "minProperties"}) {
      if (schema.HasMember(count) && !schema[count].IsUint64()) {
        Problem(Child(where, count), "is not a count");
      }
    }
    std::string type;
    if (schema.HasMember("type")) {
      const Value& value = schema["type"];
      if (!value.IsString() || !OneOf(NameOf(value), kSchemaTypes)) {
        Problem(Child(where, "type"), "is not one type of OpenAPI 3.0");
      } else {
        type = value.GetString();
      }
    }
    if (type == "array" && !schema.HasMember("items")) Problem(where, "is an array without items");
    if (schema.HasMember("items")) Schema(schema["items"], Child(where, "items"), depth + 1);
    if (schema.HasMember("not")) Schema(schema["not"], Child(where, "not"), depth + 1);
    if (schema.HasMember("properties")) {
      const Value& properties = schema["properties"];
      if (!properties.IsObject()) {
        Problem(Child(where, "properties"), "is not an object");
      } else {
        for (const auto& property : properties.GetObject()) {
          Schema(property.value, Child(Child(where, "properties"), NameOf(property.name)),
                 depth + 1);
        }
      }
    }
    if (schema.HasMember("additionalProperties") && !schema["additionalProperties"].IsBool()) {
      Schema(schema["additionalProperties"], Child(where, "additionalProperties"), depth + 1);
    }
    for (const char* combination : {"allOf", "oneOf", "anyOf"}) {
      if (!schema.HasMember(combination)) continue;
      const Value& list = schema[combination];
      if (!list.IsArray() || list.Empty()) {
        Problem(Child(where, combination), "is not a list of schemas");
        continue;
      }
      for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        Schema(list[i], Child(where, combination) + "/" + std::to_string(i), depth + 1);
      }
    }
    if (schema.HasMember("enum") && (!schema["enum"].IsArray() || schema["enum"].Empty())) {
      Problem(Child(where, "enum"), "is not a list of values");
    }
    if (schema.HasMember("required")) {
      const Value& required = schema["required"];
      std::set<std::string> names;
      bool fine = required.IsArray() && !required.Empty();
      for (rapidjson::SizeType i = 0; fine && i < required.Size(); ++i) {
        fine = required[i].IsString() && names.insert(required[i].GetString()).second;
      }
      if (!fine) Problem(Child(where, "required"), "is not a list of distinct names");
    }
  }

  void Components(const Value& components) {
    if (!Fields(components, "/components", kComponentsFields, {})) return;
    for (const auto& group : components.GetObject()) {
      const std::string where = Child("/components", NameOf(group.name));
      if (!group.value.IsObject()) {
        Problem(where, "is not an object");
        continue;
      }
      for (const auto& entry : group.value.GetObject()) {
        if (!IsComponentName(NameOf(entry.name))) {
          Problem(Child(where, NameOf(entry.name)), "is not a component name");
        }
      }
    }
    if (components.HasMember("schemas") && components["schemas"].IsObject()) {
      for (const auto& entry : components["schemas"].GetObject()) {
        Schema(entry.value, Child("/components/schemas", NameOf(entry.name)), 0);
      }
    }
    if (components.HasMember("securitySchemes") && components["securitySchemes"].IsObject()) {
      for (const auto& entry : components["securitySchemes"].GetObject()) {
        const std::string where = Child("/components/securitySchemes", NameOf(entry.name));
        const Value& scheme = entry.value;
        if (!scheme.IsObject() || !scheme.HasMember("type") || !scheme["type"].IsString() ||
            !OneOf(NameOf(scheme["type"]), kSchemeTypes)) {
          Problem(where, "has no type of security scheme");
          continue;
        }
        const std::string_view type = NameOf(scheme["type"]);
        const char* needed = type == "http"     ? "scheme"
                             : type == "apiKey" ? "name"
                             : type == "oauth2" ? "flows"
                                                : "openIdConnectUrl";
        if (!scheme.HasMember(needed)) {
          Problem(where, "lacks \"" + std::string(needed) + "\" for its type");
        }
      }
    }
  }

  void Security(const Value& requirements, const std::string& where) {
    if (!requirements.IsArray()) return Problem(where, "is not a list");
    const Value* schemes = Resolve(document_, "#/components/securitySchemes");
    for (rapidjson::SizeType i = 0; i < requirements.Size(); ++i) {
      const std::string at = where + "/" + std::to_string(i);
      if (!requirements[i].IsObject()) {
        Problem(at, "is not an object");
        continue;
      }
      for (const auto& entry : requirements[i].GetObject()) {
        if (schemes == nullptr || !schemes->IsObject() || !schemes->HasMember(entry.name)) {
          Problem(Child(at, NameOf(entry.name)), "names no declared security scheme");
        }
        if (!entry.value.IsArray()) Problem(Child(at, NameOf(entry.name)), "is not a list");
      }
    }
  }

  // Every "$ref" anywhere resolves inside the document.
  void References(const Value& value, const std::string& where) {
    if (value.IsArray()) {
      for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
        References(value[i], where + "/" + std::to_string(i));
      }
    } else if (value.IsObject()) {
      for (const auto& member : value.GetObject()) {
        const std::string at = Child(where, NameOf(member.name));
        if (NameOf(member.name) == "$ref" && member.value.IsString()) {
          if (!NameOf(member.value).starts_with("#/") ||
              Resolve(document_, NameOf(member.value)) == nullptr) {
            Problem(at, "\"" + std::string(NameOf(member.value)) + "\" does not resolve");
          }
        } else {
          References(member.value, at);
        }
      }
    }
  }

  const Value& document_;
  std::vector<std::string> problems_;
  std::set<std::string> operationIds_;
};

void Match(const Value& document, const Value& schema, const Value& value, const std::string& where,
           int depth, std::vector<std::string>& mismatches) {
  const auto mismatch = [&](const std::string& what) {
    mismatches.push_back((where.empty() ? "/" : where) + ": " + what);
  };
  if (depth > kMaxDepth) return mismatch("the schema nests too deep");
  if (!schema.IsObject()) return mismatch("the schema is not an object");
  if (schema.HasMember("$ref")) {
    const Value* target =
        schema["$ref"].IsString() ? Resolve(document, NameOf(schema["$ref"])) : nullptr;
    if (target == nullptr) return mismatch("the schema's $ref does not resolve");
    return Match(document, *target, value, where, depth + 1, mismatches);
  }
  if (value.IsNull() && schema.HasMember("nullable") && schema["nullable"].IsTrue()) return;
  if (schema.HasMember("enum") && schema["enum"].IsArray() &&
      std::none_of(schema["enum"].Begin(), schema["enum"].End(),
                   [&](const Value& allowed) { return allowed == value; })) {
    mismatch("is none of the enumerated values");
  }
  const std::string type = schema.HasMember("type") && schema["type"].IsString()
                               ? schema["type"].GetString()
                               : std::string();
  const std::string format = schema.HasMember("format") && schema["format"].IsString()
                                 ? schema["format"].GetString()
                                 : std::string();
  if (type == "boolean") {
    if (!value.IsBool()) mismatch("is not true or false");
  } else if (type == "integer") {
    if (!value.IsInt64() && !value.IsUint64()) return mismatch("is not an integer");
    constexpr int64_t kLow = std::numeric_limits<int32_t>::min();
    constexpr int64_t kHigh = std::numeric_limits<int32_t>::max();
    if (format == "int32" &&
        (!value.IsInt64() || value.GetInt64() < kLow || value.GetInt64() > kHigh)) {
      mismatch("does not fit format int32");
    }
    if (format == "int64" && !value.IsInt64()) mismatch("does not fit format int64");
    if (schema.HasMember("minimum") && value.IsInt64() &&
        value.GetDouble() < schema["minimum"].GetDouble()) {
      mismatch("is below the minimum");
    }
    if (schema.HasMember("maximum") && value.GetDouble() > schema["maximum"].GetDouble()) {
      mismatch("is above the maximum");
    }
  } else if (type == "number") {
    if (!value.IsNumber()) mismatch("is not a number");
  } else if (type == "string") {
    if (!value.IsString()) mismatch("is not a text");
  } else if (type == "array") {
    if (!value.IsArray()) return mismatch("is not a list");
    if (!schema.HasMember("items")) return;
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
      Match(document, schema["items"], value[i], where + "/" + std::to_string(i), depth + 1,
            mismatches);
    }
  } else if (type == "object") {
    if (!value.IsObject()) return mismatch("is not an object");
    const Value* properties = schema.HasMember("properties") && schema["properties"].IsObject()
                                  ? &schema["properties"]
                                  : nullptr;
    const Value* additional =
        schema.HasMember("additionalProperties") && schema["additionalProperties"].IsObject()
            ? &schema["additionalProperties"]
            : nullptr;
    if (properties == nullptr && additional == nullptr) return;  // any members
    for (const auto& member : value.GetObject()) {
      const std::string at = Child(where, NameOf(member.name));
      if (properties != nullptr && properties->HasMember(member.name)) {
        Match(document, (*properties)[member.name], member.value, at, depth + 1, mismatches);
      } else if (additional != nullptr) {
        Match(document, *additional, member.value, at, depth + 1, mismatches);
      } else {
        mismatches.push_back(at + ": is not described");
      }
    }
    if (properties != nullptr && additional == nullptr) {
      for (const auto& property : properties->GetObject()) {
        if (!value.HasMember(property.name)) {
          mismatches.push_back(Child(where, NameOf(property.name)) + ": is described but missing");
        }
      }
    }
  }
}

}  // namespace

std::vector<std::string> OpenApiProblems(const rapidjson::Value& document) {
  return StructureCheck(document).Run();
}

std::vector<std::string> SchemaMismatches(const rapidjson::Value& document,
                                          const rapidjson::Value& schema,
                                          const rapidjson::Value& value) {
  std::vector<std::string> mismatches;
  Match(document, schema, value, "", 0, mismatches);
  return mismatches;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace Tesk::Testing
