#include "rest/published_routes.h"

#include <algorithm>

namespace Tesk {
namespace {

constexpr const char* kMethodNames[] = {"",        "DELETE", "GET",  "HEAD",
                                        "OPTIONS", "PATCH",  "POST", "PUT"};

}  // namespace

uint32_t MethodCode(std::string_view method) {
  for (uint32_t code = 1; code <= 7; ++code) {
    if (method == kMethodNames[code]) return code;
  }
  return 8;
}

const char* MethodName(uint32_t code) { return code >= 1 && code <= 7 ? kMethodNames[code] : ""; }

FunctionRoutes::FunctionRoutes(const FunctionTable* table) {
  if (table == nullptr) return;
  const auto* record = static_cast<const FunctionTableRecord*>(table->functions);
  for (uint32_t i = 0; record != nullptr && i < table->functionCount; ++i) {
    if (record->requestCallback != nullptr) {
      std::string urlTemplate = record->urlTemplate != nullptr ? record->urlTemplate : "";
      if (urlTemplate.empty() && record->function.name != nullptr) {
        urlTemplate = record->function.name;
      }
      Route route{record, record->method,
                  record->customMethod != nullptr ? record->customMethod : "", Compile(urlTemplate),
                  0};
      for (const Piece& piece : route.pieces) route.literalLength += piece.text.size();
      routes_.push_back(std::move(route));
    }
    record = reinterpret_cast<const FunctionTableRecord*>(record->function.next);
  }
}

std::vector<FunctionRoutes::Piece> FunctionRoutes::Compile(std::string_view urlTemplate) {
  std::vector<Piece> pieces;
  std::string literal;
  const auto flush = [&] {
    if (!literal.empty()) pieces.push_back({Piece::Literal, std::move(literal)});
    literal.clear();
  };
  for (size_t i = 0; i < urlTemplate.size(); ++i) {
    if (urlTemplate[i] != '{') {
      literal += urlTemplate[i];
      continue;
    }
    const size_t close = urlTemplate.find('}', i);
    if (close == std::string_view::npos) {
      literal += urlTemplate.substr(i);
      break;
    }
    const char kind = close > i + 1 ? urlTemplate[i + 1] : '\0';
    if (kind == '#') literal += '#';
    flush();
    pieces.push_back({kind == '+' || kind == '#' ? Piece::Rest : Piece::Segment, {}});
    i = close;
  }
  flush();
  return pieces;
}

bool FunctionRoutes::Matches(const std::vector<Piece>& pieces, std::string_view path) {
  // reachable[p] after piece k: whether pieces 0..k can consume path[0, p).
  std::vector<char> reachable(path.size() + 1, 0);
  reachable[0] = 1;
  for (const Piece& piece : pieces) {
    std::vector<char> next(path.size() + 1, 0);
    bool any = false;
    for (size_t p = 0; p <= path.size(); ++p) {
      if (!reachable[p]) continue;
      switch (piece.kind) {
        case Piece::Literal:
          if (path.substr(p).starts_with(piece.text)) {
            next[p + piece.text.size()] = 1;
            any = true;
          }
          break;
        case Piece::Segment:
          for (size_t e = p; e <= path.size(); ++e) {
            if (next[e] == 0) any = true;
            next[e] = 1;
            if (e < path.size() && path[e] == '/') break;
          }
          break;
        case Piece::Rest:
          std::fill(next.begin() + static_cast<std::ptrdiff_t>(p), next.end(), 1);
          any = true;
          p = path.size();  // every later end is already reachable
          break;
      }
    }
    if (!any) return false;
    reachable.swap(next);
  }
  return reachable[path.size()] != 0;
}

RouteLookup FunctionRoutes::Find(std::string_view method, std::string_view path) const {
  const uint32_t code = MethodCode(method);
  RouteLookup lookup;
  size_t bestCaptured = 0;
  bool pathMatched = false;
  for (const Route& route : routes_) {
    if (!Matches(route.pieces, path)) continue;
    pathMatched = true;
    const bool methodTaken =
        route.method == 0 || (route.method == code && (code != 8 || route.customMethod == method));
    if (!methodTaken) {
      const std::string name = route.method == 8 ? route.customMethod : MethodName(route.method);
      if (std::find(lookup.allowedMethods.begin(), lookup.allowedMethods.end(), name) ==
          lookup.allowedMethods.end()) {
        lookup.allowedMethods.push_back(name);
      }
      continue;
    }
    const size_t captured = path.size() - std::min(path.size(), route.literalLength);
    if (lookup.function == nullptr || captured < bestCaptured) {
      lookup.function = route.function;
      bestCaptured = captured;
    }
    if (route.pieces.size() <= 1 &&
        (route.pieces.empty() || route.pieces[0].kind == Piece::Literal)) {
      break;  // a literal route
    }
  }
  if (lookup.function != nullptr || !pathMatched) lookup.allowedMethods.clear();
  return lookup;
}

}  // namespace Tesk
