// UrlPattern: the matcher a URL template compiles to. It accepts the same URLs
// and captures the same texts as the ECMAScript regular expression of the
// template (literal text, "([^/]*)", "(.*)" and "#(.*)" groups, greedy; "."
// matches no CR or LF), but
// never recurses per input character: a regex engine that does overflows a
// 1 MiB stack on URLs of a few thousand characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Tesk {

class UrlPattern {
 public:
  // Appends text that must appear as it stands.
  void AddLiteral(std::string_view text);
  // Appends a capture group: within one path segment ("[^/]*") or any text (".*").
  void AddGroup(bool withinSegment);

  // Whether the whole of `url` matches; `groups` receives one view into `url`
  // per group, chosen greedily from the first group on as a backtracking
  // regex engine would.
  [[nodiscard]] bool FullMatch(std::string_view url, std::vector<std::string_view>& groups) const;

  [[nodiscard]] size_t GroupCount() const { return groupCount_; }

 private:
  struct Token {
    bool isGroup = false;
    bool withinSegment = false;  // groups only
    size_t group = 0;            // groups only
    std::string literal{};       // literals only
  };

  bool MatchFrom(size_t token, size_t position, std::string_view url,
                 std::vector<std::string_view>& groups) const;

  std::vector<Token> tokens_;
  size_t groupCount_ = 0;
};

}  // namespace Tesk
