#include "server/event_names.h"

#include <algorithm>
#include <vector>

namespace Tesk::DevHost {

std::string EventNameForResource(std::string_view uri) {
  std::vector<std::string_view> segments;
  while (!uri.empty()) {
    const size_t slash = uri.find('/');
    const std::string_view segment = uri.substr(0, slash);
    if (!segment.empty()) segments.push_back(segment);
    if (slash == std::string_view::npos) break;
    uri.remove_prefix(slash + 1);
  }
  const size_t keep = (!segments.empty() && segments.front() == "tav-platform-config" ? 6 : 4) - 1;
  std::string name = kResourceEventName;
  for (size_t i = 0; i < segments.size() && i < keep; ++i) {
    name += '_';
    name += segments[i];
  }
  return name;
}

std::string EventNameForLcdsType(std::string_view typeName) {
  std::string name = std::string(kLcdsEventName) + "_" + std::string(typeName);
  std::replace(name.begin() + sizeof kLcdsEventName, name.end(), '.', '_');
  return name;
}

}  // namespace Tesk::DevHost
