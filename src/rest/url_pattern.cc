#include "rest/url_pattern.h"

#include <algorithm>

namespace Tesk {

void UrlPattern::AddLiteral(std::string_view text) {
  if (text.empty()) return;
  if (!tokens_.empty() && !tokens_.back().isGroup) {
    tokens_.back().literal += text;
    return;
  }
  Token token;
  token.literal = std::string(text);
  tokens_.push_back(std::move(token));
}

void UrlPattern::AddGroup(bool withinSegment) {
  Token token;
  token.isGroup = true;
  token.withinSegment = withinSegment;
  token.group = groupCount_++;
  tokens_.push_back(std::move(token));
}

bool UrlPattern::FullMatch(std::string_view url, std::vector<std::string_view>& groups) const {
  groups.assign(groupCount_, std::string_view{});
  return MatchFrom(0, 0, url, groups);
}

// Recursion goes one level per token of the template, never per character.
bool UrlPattern::MatchFrom(size_t token, size_t position, std::string_view url,
                           std::vector<std::string_view>& groups) const {
  if (token == tokens_.size()) return position == url.size();
  const Token& current = tokens_[token];
  const std::string_view rest = url.substr(position);
  if (!current.isGroup) {
    if (!rest.starts_with(current.literal)) return false;
    return MatchFrom(token + 1, position + current.literal.size(), url, groups);
  }
  // "[^/]" takes any character but "/", "." any but a line terminator: the
  // ECMAScript "." stops at CR and LF.
  const size_t longest =
      std::min(rest.find_first_of(current.withinSegment ? "/" : "\r\n"), rest.size());
  const auto tryLength = [&](size_t length) {
    groups[current.group] = url.substr(position, length);
    return MatchFrom(token + 1, position + length, url, groups);
  };
  if (token + 1 == tokens_.size()) return longest == rest.size() && tryLength(longest);
  const Token& next = tokens_[token + 1];
  if (!next.isGroup) {
    // Only the places where the following literal starts can end the group;
    // the longest first, as a greedy quantifier tries them.
    size_t end = rest.rfind(next.literal, longest);
    while (end != std::string_view::npos) {
      if (tryLength(end)) return true;
      if (end == 0) break;
      end = rest.rfind(next.literal, end - 1);
    }
    return false;
  }
  for (size_t length = longest + 1; length-- > 0;) {
    if (tryLength(length)) return true;
  }
  return false;
}

}  // namespace Tesk
