// HostRequestTarget: where outgoing requests go, and what the plug-in says
// about itself in them.
#pragma once

#include <cstdint>
#include <string>

#include "host-abi/host_operations.h"

namespace Tesk {

class BindingRegistry;

struct HostRequestTarget {
  HostOperations& host;
  // Passed back to the host in every API request.
  uint32_t pluginHandle = 0;
  // The "user-agent" of HTTP requests that do not name one themselves.
  std::string userAgent;
  // Knows the structures and enumerations that responses convert into; may be
  // null when results are plain values or BindingProperty trees.
  const BindingRegistry* registry = nullptr;
};

}  // namespace Tesk
