#include "rest/url_template.h"

#include <cstring>
#include <limits>

namespace Tesk {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool NeedsEscape(char c) { return std::strchr("^$.*+?()[]|\\", c) != nullptr && c != '\0'; }

bool MethodAccepts(const CompiledRoute& route, const RouteMatch& match) {
  if (route.method == HttpMethod::None) return true;
  return route.method == match.method && route.customMethod == match.customMethod;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded += ' ';
      continue;
    }
    if (c != '%') {
      decoded += c;
      continue;
    }
    // A "%" with fewer than two characters after it is dropped.
    if (i + 2 >= text.size()) continue;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) {
      decoded += '%';  // not an escape: kept as it stands
      continue;
    }
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

std::string NormalizeUrlTemplate(std::string_view templateText) {
  if (templateText.size() > 1 && templateText.back() == '/') templateText.remove_suffix(1);
  return std::string(templateText);
}

CompiledRoute CompileRoute(std::string_view templateText, HttpMethod method,
                           std::string_view customMethod, const void* function) {
  CompiledRoute route;
  route.function = function;
  route.method = method;
  route.customMethod = std::string(customMethod);
  route.templateText = std::string(templateText);
  if (templateText.find('{') == std::string_view::npos) {
    route.literalPath = route.templateText;
    return route;
  }
  std::string pattern;
  auto matcher = std::make_shared<UrlPattern>();
  bool inside = false;
  UrlPlaceholder current;
  for (char c : templateText) {
    if (!inside) {
      if (c == '{') {
        inside = true;
        current = UrlPlaceholder{};
      } else if (c != '}') {
        if (NeedsEscape(c)) pattern += '\\';
        pattern += c;
        matcher->AddLiteral(std::string_view(&c, 1));
      }
      continue;
    }
    if (c == '}') {
      switch (current.kind) {
        case UrlPlaceholder::Kind::Simple:
          pattern += "([^/]*)";
          matcher->AddGroup(true);
          break;
        case UrlPlaceholder::Kind::Reserved:
          pattern += "(.*)";
          matcher->AddGroup(false);
          break;
        case UrlPlaceholder::Kind::Fragment:
          pattern += "#(.*)";
          matcher->AddLiteral("#");
          matcher->AddGroup(false);
          break;
      }
      route.placeholders.push_back(std::move(current));
      inside = false;
    } else if (current.name.empty() && current.kind == UrlPlaceholder::Kind::Simple &&
               (c == '+' || c == '#')) {
      current.kind = c == '+' ? UrlPlaceholder::Kind::Reserved : UrlPlaceholder::Kind::Fragment;
    } else {
      current.name += c;
    }
  }
  route.pattern = pattern;
  route.matcher = std::move(matcher);
  return route;
}

bool MatchRoute(std::span<const CompiledRoute> routes, RouteMatch& match) {
  match.matched = nullptr;
  match.pathParameters.clear();
  size_t bestLength = std::numeric_limits<size_t>::max();
  std::vector<std::string_view> groups;
  // The query is for the arguments, never part of a route.
  const std::string_view path = std::string_view(match.url).substr(0, match.url.find('?'));
  for (const CompiledRoute& route : routes) {
    if (!MethodAccepts(route, match)) continue;
    if (route.matcher == nullptr) {
      if (path != route.literalPath) continue;
      match.matched = &route;
      match.pathParameters.clear();
      return true;
    }
    if (!route.matcher->FullMatch(path, groups)) continue;
    std::unordered_map<std::string, std::string> values;
    size_t length = 0;
    for (size_t i = 0; i < route.placeholders.size() && i < groups.size(); ++i) {
      std::string value = PercentDecode(groups[i]);
      values[route.placeholders[i].name] = std::move(value);
    }
    for (const auto& [name, value] : values) length += value.size();
    if (match.matched != nullptr && length >= bestLength) continue;
    bestLength = length;
    match.matched = &route;
    match.pathParameters = std::move(values);
  }
  return match.matched != nullptr;
}

}  // namespace Tesk
