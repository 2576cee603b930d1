#include "plugin/resource_observers.h"

#include "plugin/event_names.h"

namespace Tesk {

void ResourceObservers::Add(std::string_view uriOrPattern, Handler handler) {
  if (uriOrPattern.find('*') == std::string_view::npos) {
    exact_.insert_or_assign(std::string(uriOrPattern), std::move(handler));
    return;
  }
  for (auto& [pattern, existing] : patterns_) {
    if (pattern == uriOrPattern) {
      existing = std::move(handler);
      return;
    }
  }
  patterns_.emplace_back(std::string(uriOrPattern), std::move(handler));
}

std::string ResourceObservers::PathOf(const std::string& uri) {
  return uri.starts_with('/') ? uri : "/" + uri;
}

std::vector<ResourceObservers::Handler> ResourceObservers::Matching(const std::string& path) const {
  std::vector<Handler> matched;
  if (const auto exact = exact_.find(path); exact != exact_.end()) {
    matched.push_back(exact->second);
  }
  for (const auto& [pattern, handler] : patterns_) {
    if (ResourcePatternMatches(pattern, path)) matched.push_back(handler);
  }
  return matched;
}

void ResourceObservers::Clear() {
  exact_.clear();
  patterns_.clear();
}

}  // namespace Tesk
