// Incoming request dispatch: from the host's request record for one published
// function to its handler and back into the host's response record.
#pragma once

#include <optional>

#include "binding/binding_function_info.h"
#include "host-abi/host_requests.h"
#include "rest/url_template.h"

namespace Tesk {

class BindingRegistry;

// What the function table publishes for one function, and the host hands back
// with every request to it.
struct DispatchContext {
  BindingRegistry* registry = nullptr;
  const BindingFunctionInfo* function = nullptr;
  // The function's compiled route, made when the table is built: compiling
  // the matcher costs more than the rest of a request. Without it each
  // request compiles the route anew.
  std::optional<CompiledRoute> route{};
};

// The route of `function`: its URL template (its name when it has none),
// method and custom method.
[[nodiscard]] CompiledRoute CompileFunctionRoute(const BindingFunctionInfo& function);

// Handles one request for `context`'s function: route check, arguments from
// headers, path, query, host-supplied arguments and body, the handler through
// its invoker, and the response. Throws only what allocation throws; the
// request callback catches it.
void HandleRequest(const DispatchContext& context, ResponseRecord* response,
                   const IncomingRequestRecord* request);

// The function table's request callback: runs HandleRequest with the record's
// dispatch context and answers every failure, thrown ones included, in the
// response record. Null records are ignored.
void KTX_HOST_CALL DispatchRequestEntry(ResponseRecord* response,
                                        const IncomingRequestRecord* request);

}  // namespace Tesk
