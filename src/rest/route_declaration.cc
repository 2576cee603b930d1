#include "rest/route_declaration.h"

#include "rest/url_template.h"

namespace Tesk {

void RouteDeclaration::AddArgument(std::string_view name, const BindingTypeIdentifier& type,
                                   BindingArgumentLocation location, bool optional) {
  if (function_ == nullptr) return;
  BindingArgumentInfo argument;
  argument.name = name;
  argument.type = type;
  argument.optional = optional;
  function_->arguments.push_back(std::move(argument));
  std::vector<BindingArgumentLocation>& locations = function_->route.locations;
  locations.resize(function_->arguments.size(), BindingArgumentLocation::Anywhere);
  locations.back() = location;
}

RouteDeclaration& RouteDeclaration::SetDescription(std::string_view text) {
  if (function_ != nullptr) function_->description = text;
  return *this;
}

RouteDeclaration& RouteDeclaration::SetNamespace(std::string_view text) {
  if (function_ != nullptr) function_->nameSpace = text;
  return *this;
}

RouteDeclaration& RouteDeclaration::AddTags(std::span<const std::string> tags) {
  if (function_ == nullptr) return *this;
  for (const std::string& tag : tags) {
    if (!tag.empty()) function_->tags.push_back(tag);
  }
  return *this;
}

RouteDeclaration& RouteDeclaration::SetCustomMethod(std::string_view name) {
  if (function_ == nullptr) return *this;
  function_->route.method = static_cast<uint32_t>(HttpMethod::Custom);
  function_->route.customMethod = name;
  return *this;
}

namespace RestInternal {

BindingFunctionInfo* RegisterRouteFunction(BindingRegistry& registry, HttpMethod method,
                                           std::string_view urlTemplate) {
  const std::string name = DeriveFunctionName(HttpMethodName(method), urlTemplate);
  if (registry.FindFunction(name) != nullptr) return nullptr;
  BindingFunctionInfo& function = registry.RegisterFunction(name, {});
  function.route.urlTemplate = NormalizeUrlTemplate(urlTemplate);
  function.route.method = static_cast<uint32_t>(method);
  function.route.customMethod.clear();
  return &function;
}

}  // namespace RestInternal
}  // namespace Tesk
