// FunctionRoutes: routing on a host's side. Finds a plug-in's published
// function for a request by its method and path, as the plug-in's own matcher
// will check it: "{name}" takes one path segment (possibly empty), "{+name}"
// any text, "{#name}" a "#" and any text; among several matches the one that captured the least
// text wins, the earlier one a tie, and a template without placeholders wins at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host-abi/plugin_records.h"

namespace Tesk {

// Method codes of the host's request records: 1 DELETE, 2 GET, 3 HEAD,
// 4 OPTIONS, 5 PATCH, 6 POST, 7 PUT, 8 any other method (named beside it).
[[nodiscard]] uint32_t MethodCode(std::string_view method);
// "GET" for 2 and so on; "" outside 1 to 7.
[[nodiscard]] const char* MethodName(uint32_t code);

struct RouteLookup {
  const FunctionTableRecord* function = nullptr;  // null when none matched
  // Methods of the functions whose template matched the path, when none took
  // the method (for a 405 answer); empty otherwise.
  std::vector<std::string> allowedMethods;
};

class FunctionRoutes {
 public:
  // Reads the published records (the table must outlive this object).
  explicit FunctionRoutes(const FunctionTable* table);

  [[nodiscard]] RouteLookup Find(std::string_view method, std::string_view path) const;
  [[nodiscard]] size_t Size() const { return routes_.size(); }

 private:
  struct Piece {
    enum Kind { Literal, Segment, Rest } kind;
    std::string text;  // the literal text
  };
  struct Route {
    const FunctionTableRecord* function;
    uint32_t method;
    std::string customMethod;
    std::vector<Piece> pieces;
    size_t literalLength;  // characters the pieces fix
  };
  [[nodiscard]] static std::vector<Piece> Compile(std::string_view urlTemplate);
  [[nodiscard]] static bool Matches(const std::vector<Piece>& pieces, std::string_view path);

  std::vector<Route> routes_;
};

}  // namespace Tesk
