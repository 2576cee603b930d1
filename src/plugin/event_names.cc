#include "plugin/event_names.h"

#include <vector>

namespace Tesk {

std::string EventNameForResource(std::string_view uri) {
  std::vector<std::string_view> segments;
  size_t start = 0;
  while (start <= uri.size()) {
    const size_t slash = uri.find('/', start);
    const size_t end = slash == std::string_view::npos ? uri.size() : slash;
    if (end > start) segments.push_back(uri.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  // Entries count "OnJsonApiEvent" itself.
  const size_t keep = !segments.empty() && segments.front() == "tav-platform-config" ? 5 : 3;
  std::string name = "OnJsonApiEvent";
  for (size_t i = 0; i < segments.size() && i < keep; ++i) {
    name += '_';
    name += segments[i];
  }
  return name;
}

std::string EventNameForLcdsType(std::string_view typeName) {
  std::string name = "OnLcdsEvent_";
  for (char c : typeName) name += c == '.' ? '_' : c;
  return name;
}

// One walk over both texts: "*" takes every character up to the next "/" or
// the end of the path, without backtracking.
bool ResourcePatternMatches(std::string_view pattern, std::string_view path) {
  size_t s = 0;
  for (const char c : pattern) {
    if (c == '*') {
      if (s == path.size()) return false;  // at the end it needs a character
      while (s < path.size() && path[s] != '/') ++s;
    } else {
      if (s == path.size() || path[s] != c) return false;
      ++s;
    }
  }
  return s == path.size();
}

}  // namespace Tesk
