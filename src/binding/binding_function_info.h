// The records of the functions and events a plug-in exposes. Owned by their
// BindingRegistry until unregistered (or until the registry shuts down);
// pointers to them are views valid until then.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "binding/binding_value_type.h"

namespace Tesk {

struct BindingTypeInfo;

class BindingCallResult;
struct BindingRequestContext;
struct TypeKey;

// What runs a function: converts the argument vector into the handler's native
// argument, calls the handler and converts what it returns into the call
// result. The dispatcher uses the operations in this order: Start, ContextType,
// Finish (only when Start left the result ok), Release (always, with what Start
// returned). The registry owns invokers and destroys them with their function.
class BindingInvoker {
 public:
  BindingInvoker() = default;
  BindingInvoker(const BindingInvoker&) = delete;
  BindingInvoker& operator=(const BindingInvoker&) = delete;
  virtual ~BindingInvoker() = default;

  // Converts `arguments` (one per parameter, in order) into the call token
  // Finish takes; a conversion failure is left in `result.result`.
  [[nodiscard]] virtual void* Start(BindingCallResult& result,
                                    std::span<const BindingProperty> arguments,
                                    uint32_t requestId) = 0;
  // The context type of the handler (see WantsRequestContext).
  [[nodiscard]] virtual const TypeKey& ContextType() const = 0;
  // Runs the handler; `context` is null unless the handler wants one.
  virtual void Finish(BindingCallResult& result, const BindingRequestContext* context, void* token,
                      uint32_t requestId) = 0;
  virtual void Release(void* token) noexcept = 0;
};

// Where a parameter of a REST function may come from.
enum class BindingArgumentLocation : uint32_t {
  Anywhere = 0,
  Query = 1,
  Path = 2,
  Header = 4,
  Body = 5,
};

// The route of a function exposed over REST: empty for other functions.
struct BindingRoute {
  uint32_t method = 0;         // method code; 0 accepts every method
  std::string customMethod{};  // only for method code 8
  std::string urlTemplate{};   // the function's name serves when empty
  // One per parameter by position; a parameter past the end is Anywhere.
  std::vector<BindingArgumentLocation> locations{};
  // Published in the function table; no declaration of this SDK sets them.
  uint8_t flag = 0;
  std::vector<std::vector<std::string>> textLists{};
};

struct BindingArgumentInfo {
  std::string name{};
  std::string description{};
  bool optional = false;
  BindingTypeIdentifier type{};
  BindingTypeIdentifier helpType{};  // shown by help instead of `type` when set
};

struct BindingFunctionInfo {
  std::string name{};  // unique among the registry's functions
  std::vector<BindingArgumentInfo> arguments{};
  // For an asynchronous function, the type of its asynchronous result.
  BindingTypeIdentifier returns{};
  BindingTypeIdentifier returnsHelp{};  // shown by help instead of `returns` when set
  std::string nameSpace{};
  std::string description{};
  std::string helpText{};
  bool threadSafe = false;
  bool async = false;
  std::vector<std::string> tags{};
  std::unique_ptr<BindingInvoker> invoker{};  // may be null
  BindingRoute route{};
};

struct BindingEventInfo {
  std::string name{};  // unique among the registry's events
  std::string nameSpace{};
  const BindingTypeInfo* payloadType = nullptr;  // may be null
  std::string description{};
  std::vector<std::string> tags{};
};

}  // namespace Tesk
