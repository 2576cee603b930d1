// The OpenAPI 3.0.3 description of what the host serves: every function the
// plug-in published with a route (path, method, parameters by location, body,
// result), the plug-in's types as component schemas, its events as the
// extension "x-events", and the host's own endpoints.
#pragma once

#include <string>

#include "host-abi/plugin_records.h"

namespace Tesk::DevHost {

// `table` may be null (a plug-in without functions). `title` names the plug-in.
[[nodiscard]] std::string MakeOpenApiDocument(const FunctionTable* table, const std::string& title);

}  // namespace Tesk::DevHost
