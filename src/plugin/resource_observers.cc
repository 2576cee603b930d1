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

void ResourceObservers::Dispatch(const PluginResourceEvent& event) const {
  const std::string path = event.uri.starts_with('/') ? event.uri : "/" + event.uri;
  // Copies of the handlers: an observer may add observers while it runs.
  std::vector<Handler> matched;
  if (const auto exact = exact_.find(path); exact != exact_.end()) {
    matched.push_back(exact->second);
  }
  for (const auto& [pattern, handler] : patterns_) {
    if (ResourcePatternMatches(pattern, path)) matched.push_back(handler);
  }
  for (const Handler& handler : matched) handler(path, event);
}

void ResourceObservers::Clear() {
  exact_.clear();
  patterns_.clear();
}

}  // namespace Tesk
