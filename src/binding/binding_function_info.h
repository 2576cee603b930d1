// The records of the functions and events a plug-in exposes. Owned by their
// BindingRegistry until unregistered (or until the registry shuts down);
// pointers to them are views valid until then.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "binding/binding_value_type.h"

namespace Tesk {

struct BindingTypeInfo;

// What runs a function. The REST layer derives its invokers from this; the
// registry only owns them and destroys them with their function record.
class BindingInvoker {
 public:
  BindingInvoker() = default;
  BindingInvoker(const BindingInvoker&) = delete;
  BindingInvoker& operator=(const BindingInvoker&) = delete;
  virtual ~BindingInvoker() = default;
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
};

struct BindingEventInfo {
  std::string name{};  // unique among the registry's events
  std::string nameSpace{};
  const BindingTypeInfo* payloadType = nullptr;  // may be null
  std::string description{};
  std::vector<std::string> tags{};
};

}  // namespace Tesk
