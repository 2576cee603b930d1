// HostFunctionTable: the function table a plug-in publishes in its load
// record. Its header is the host API description's, with the types and events
// of the description, but its function records are FunctionTableRecords: one
// per function declared with a route, carrying the request callback, the
// function's dispatch context, its parameter locations, URL template and
// method.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "binding/api_description_builder.h"
#include "host-abi/api_description.h"
#include "rest/request_dispatch.h"

namespace Tesk {

class BindingRegistry;

class HostFunctionTable {
 public:
  // Describes `registry` and publishes its routed functions. Each route is
  // compiled once here, not per request, unless `compileRoutesPerRequest`.
  // The table is valid while `registry` lives and none of its functions or
  // events is unregistered.
  explicit HostFunctionTable(BindingRegistry& registry, bool compileRoutesPerRequest = false);
  HostFunctionTable(const HostFunctionTable&) = delete;
  HostFunctionTable& operator=(const HostFunctionTable&) = delete;

  // What the load record points to.
  [[nodiscard]] ApiDescriptionHeader* Header() { return &header_; }
  [[nodiscard]] const ApiDescriptionHeader* Header() const { return &header_; }
  [[nodiscard]] const HostApiDescription& Description() const { return description_; }

 private:
  HostApiDescription description_;
  ApiDescriptionHeader header_{};
  std::vector<FunctionTableRecord> records_;
  std::vector<ApiLocationEntry> locations_;  // every record's list, one after another
  std::vector<ApiTextListEntry> textLists_;
  std::deque<std::vector<const char*>> texts_;
  std::deque<DispatchContext> contexts_;  // addresses published to the host
};

// Whether a function was declared with a route (has a template or a method).
[[nodiscard]] bool HasRoute(const BindingFunctionInfo& function);

}  // namespace Tesk
