// URL templates of routes ("/offers/{id}/reveal"): compiling a template into a
// matcher, matching request URLs against compiled routes, and percent-decoding.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rest/http_method.h"
#include "rest/url_pattern.h"

namespace Tesk {

struct UrlPlaceholder {
  enum class Kind : int { Simple = 1, Reserved = 2, Fragment = 3 };
  Kind kind = Kind::Simple;
  std::string name;
};

// A route compiled from one function's template. Either a literal path (a
// template without "{") or a matcher whose capture group n belongs to
// placeholder n.
struct CompiledRoute {
  const void* function = nullptr;  // the function the route was built from
  HttpMethod method = HttpMethod::None;
  std::string customMethod;
  std::string templateText;
  std::string literalPath;
  // Matches as the ECMAScript regular expression `pattern` would; null for a
  // literal route.
  std::shared_ptr<const UrlPattern> matcher;
  std::string pattern;  // the equivalent regular expression, kept for diagnostics
  std::vector<UrlPlaceholder> placeholders;
};

// Compiles `templateText`: placeholders "{name}" match "([^/]*)", "{+name}"
// "(.*)" and "{#name}" "#(.*)"; the other characters match themselves.
[[nodiscard]] CompiledRoute CompileRoute(std::string_view templateText, HttpMethod method,
                                         std::string_view customMethod,
                                         const void* function = nullptr);

// What one request brings to matching, and what matching found.
struct RouteMatch {
  RouteMatch(HttpMethod requestMethod, std::string requestCustomMethod, std::string requestUrl)
      : method(requestMethod),
        customMethod(std::move(requestCustomMethod)),
        url(std::move(requestUrl)) {}

  HttpMethod method = HttpMethod::None;
  std::string customMethod;
  std::string url;  // as the host delivered it, query included

  const CompiledRoute* matched = nullptr;
  std::unordered_map<std::string, std::string> pathParameters;
};

// Tries the routes in order (method first, then the URL's path: the part before
// the first "?"; the query never takes part in matching). Among several
// matches the one whose decoded path values are shortest wins, the earlier on
// a tie; a literal match ends the search. True when a route matched.
bool MatchRoute(std::span<const CompiledRoute> routes, RouteMatch& match);

// "+" becomes a space and "%XY" the byte XY; a "%" not followed by two
// hexadecimal digits is kept as it stands.
[[nodiscard]] std::string PercentDecode(std::string_view text);

// A template that ends in "/" loses that one "/" ("/" alone stays).
[[nodiscard]] std::string NormalizeUrlTemplate(std::string_view templateText);

}  // namespace Tesk
