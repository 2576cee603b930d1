// The handlers of resource events by resource path: exact paths, and patterns
// with "*" tried in the order they were added. One event may reach an exact
// observer and several pattern observers.
//
// Threads: none of its own; its owner guards it and calls the handlers it
// copies out after letting go of its lock.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin/plugin_manager_types.h"

namespace Tesk {

class ResourceObservers {
 public:
  using Handler = std::function<void(const std::string& path, const PluginResourceEvent& event)>;

  // A uri with "*" is a pattern; a second handler for the same uri or pattern
  // replaces the first.
  void Add(std::string_view uriOrPattern, Handler handler);
  // The path observers see for an event's uri: "/" put in front when missing.
  [[nodiscard]] static std::string PathOf(const std::string& uri);
  // Copies of the handlers for `path`: the exact observer, then every
  // matching pattern observer, in the order they were added.
  [[nodiscard]] std::vector<Handler> Matching(const std::string& path) const;
  void Clear();
  [[nodiscard]] bool Empty() const { return exact_.empty() && patterns_.empty(); }

 private:
  std::map<std::string, Handler, std::less<>> exact_;
  std::vector<std::pair<std::string, Handler>> patterns_;
};

}  // namespace Tesk
