// Declaring REST functions: a method, a URL template and a native handler
// become a registered function whose name is derived from the two, with a
// typed invoker and the route the dispatcher matches requests against:
//   DeclareRoute(registry, HttpMethod::Post, "/offers/{id}/reveal",
//                [this](const std::string& id) { return Reveal(id); })
//       .PathArgument<std::string>("id")
//       .AddTags(tags);
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/binding_registry.h"
#include "binding/conversion.h"
#include "binding/typed_invoker.h"
#include "rest/function_names.h"
#include "rest/http_method.h"

namespace Tesk {

// The declaration steps after DeclareRoute. When the function's name was
// registered before, every step does nothing.
class RouteDeclaration {
 public:
  // `function` null: an inert declaration.
  RouteDeclaration(BindingRegistry& registry, BindingFunctionInfo* function)
      : registry_(registry), function_(function) {}

  RouteDeclaration& SetDescription(std::string_view text);
  RouteDeclaration& SetNamespace(std::string_view text);
  // Appends every non-empty tag.
  RouteDeclaration& AddTags(std::span<const std::string> tags);
  // A custom method (code 8) with its name.
  RouteDeclaration& SetCustomMethod(std::string_view name);

  // The declared function; null for an inert declaration.
  [[nodiscard]] BindingFunctionInfo* Function() const { return function_; }

 protected:
  void AddArgument(std::string_view name, const BindingTypeIdentifier& type,
                   BindingArgumentLocation location, bool optional);
  [[nodiscard]] BindingRegistry& Registry() const { return registry_; }

 private:
  BindingRegistry& registry_;
  BindingFunctionInfo* function_;
};

// The declaration of a route whose handler takes `HandlerArgument` (void: no
// argument). A path or body parameter must be of that very type: the invoker
// converts the first parameter to the handler's type, so a parameter of
// another type would have one structure's fields written at another's
// offsets. A mismatch does not compile.
template <class HandlerArgument>
class TypedRouteDeclaration : public RouteDeclaration {
 public:
  using RouteDeclaration::RouteDeclaration;

  // Appends a parameter of native type T that may come from `location`. Only
  // the first parameter reaches the handler: declare it with PathArgument or
  // BodyArgument, or as the handler's type; later ones are only placed.
  template <BindingNativeType T>
  TypedRouteDeclaration& Argument(
      std::string_view name, BindingArgumentLocation location = BindingArgumentLocation::Anywhere,
      bool optional = false) {
    AddArgument(name, TypeIdentifierOf<T>(&Registry()), location, optional);
    return *this;
  }
  // A URL placeholder; named like it.
  template <BindingNativeType T>
  requires std::same_as<T, HandlerArgument> TypedRouteDeclaration& PathArgument(
      std::string_view name) {
    return Argument<T>(name, BindingArgumentLocation::Path);
  }
  // The request body; only the first body parameter receives it.
  template <BindingNativeType T>
  requires std::same_as<T, HandlerArgument> TypedRouteDeclaration& BodyArgument(
      std::string_view name) {
    return Argument<T>(name, BindingArgumentLocation::Body);
  }

  TypedRouteDeclaration& SetDescription(std::string_view text) {
    RouteDeclaration::SetDescription(text);
    return *this;
  }
  TypedRouteDeclaration& SetNamespace(std::string_view text) {
    RouteDeclaration::SetNamespace(text);
    return *this;
  }
  TypedRouteDeclaration& AddTags(std::span<const std::string> tags) {
    RouteDeclaration::AddTags(tags);
    return *this;
  }
  TypedRouteDeclaration& SetCustomMethod(std::string_view name) {
    RouteDeclaration::SetCustomMethod(name);
    return *this;
  }
};

namespace RestInternal {

// Registers the function of a route under its derived name, with its URL
// template and method, unless that name exists already (then null).
BindingFunctionInfo* RegisterRouteFunction(BindingRegistry& registry, HttpMethod method,
                                           std::string_view urlTemplate);

template <class Signature>
struct HandlerSignature;
template <class R>
struct HandlerSignature<std::function<R()>> {
  using Argument = void;
  using Result = R;
};
template <class R, class A>
struct HandlerSignature<std::function<R(A)>> {
  using Argument = std::remove_cvref_t<A>;
  using Result = R;
};

}  // namespace RestInternal

// Declares a route handled by `handler`, a callable of no argument or of one
// native argument (declare its parameter next, of the same type), returning a bool, a native
// value or a HandlerResponse.
template <class Handler>
auto DeclareRoute(BindingRegistry& registry, HttpMethod method, std::string_view urlTemplate,
                  Handler handler) {
  using Signature = RestInternal::HandlerSignature<decltype(std::function{handler})>;
  using Argument = typename Signature::Argument;
  using Result = typename Signature::Result;
  BindingFunctionInfo* function =
      RestInternal::RegisterRouteFunction(registry, method, urlTemplate);
  if (function != nullptr) {
    function->returns = TypeIdentifierOf<HandlerValueType<Result>>(&registry);
    function->invoker = std::make_unique<TypedInvoker<Argument, Result>>(
        function, &registry, typename TypedInvoker<Argument, Result>::Handler(std::move(handler)));
  }
  return TypedRouteDeclaration<Argument>(registry, function);
}

}  // namespace Tesk
