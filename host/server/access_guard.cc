#include "server/access_guard.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "encoding/base64.h"

namespace Tesk::DevHost {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Compares every byte whatever the first difference, so the time taken does
// not tell how much of a guess was right.
bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

std::string MakeRandomToken() {
  unsigned char bytes[32];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got <= 0) throw std::runtime_error("no random bytes for the access token");
    filled += static_cast<size_t>(got);
  }
  std::string token;
  char digits[3];
  for (unsigned char byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    token += digits;
  }
  return token;
}

bool IsLoopbackHost(std::string_view host) {
  host = Trim(host);
  std::string_view name = host;
  if (host.starts_with("[")) {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    host.remove_prefix(close + 1);
  } else {
    const size_t colon = host.find(':');
    name = host.substr(0, colon);
    host.remove_prefix(colon == std::string_view::npos ? host.size() : colon);
  }
  if (!host.empty()) {
    // A port: ":" and digits only.
    if (host.front() != ':' || host.size() == 1 ||
        !std::all_of(host.begin() + 1, host.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
  }
  return name == "127.0.0.1" || EqualsIgnoringCase(name, "localhost") || name == "[::1]";
}

bool IsSameOrigin(const LocalRequest& head) {
  const std::string* origin = head.Header("origin");
  if (origin == nullptr) return true;  // not sent by a browser's page
  const std::string* host = head.Header("host");
  return host != nullptr && EqualsIgnoringCase(Trim(*origin), "http://" + std::string(Trim(*host)));
}

bool ChangesState(const LocalRequest& head) {
  const std::string& method = head.method;
  return (method != "GET" && method != "HEAD" && method != "OPTIONS") ||
         head.Header("upgrade") != nullptr;
}

std::optional<LocalResponse> AccessGuard::Check(const LocalRequest& head, bool requireToken) const {
  const size_t hosts =
      std::count_if(head.headers.begin(), head.headers.end(),
                    [](const HttpField& f) { return EqualsIgnoringCase(f.name, "host"); });
  if (hosts > 1)
    return LocalResponse::Error(400, "A request has one Host header, not " + std::to_string(hosts));
  const std::string* host = head.Header("host");
  if (host == nullptr || !IsLoopbackHost(*host)) {
    return LocalResponse::Error(403, "The Host header must name 127.0.0.1 or localhost");
  }
  // A page of another site may make a browser send requests here; it cannot
  // read the answers, but a change or a WebSocket would still take effect.
  if (ChangesState(head) && !IsSameOrigin(head)) {
    return LocalResponse::Error(
        403, "Refused: the request comes from a page of another origin than this host's");
  }
  if (!requireToken) return std::nullopt;
  const std::string* authorization = head.Header("authorization");
  if (authorization != nullptr && AuthorizationMatches(*authorization)) return std::nullopt;
  std::string queryToken;
  if (FindQueryParameter(head.Query(), "token", queryToken) && Matches(queryToken)) {
    return std::nullopt;
  }
  LocalResponse refusal = LocalResponse::Error(
      401,
      "Missing or wrong token: send \"Authorization: Bearer <token>\" with the token of "
      "the run file");
  // One challenge per header: browsers offer their password prompt only for
  // a header whose first challenge is Basic.
  refusal.headers.push_back({"WWW-Authenticate", "Bearer realm=\"ktx-host\""});
  refusal.headers.push_back({"WWW-Authenticate", "Basic realm=\"ktx-host\", charset=\"UTF-8\""});
  return refusal;
}

void AccessGuard::StripCredentials(LocalRequest& request) const {
  std::erase_if(request.headers, [&](const HttpField& field) {
    return EqualsIgnoringCase(field.name, "authorization") && AuthorizationMatches(field.value);
  });
  const size_t question = request.target.find('?');
  if (question == std::string::npos) return;
  const std::string query = RemoveQueryParameter(request.Query(), "token");
  request.target.resize(question);
  if (!query.empty()) request.target += "?" + query;
}

bool AccessGuard::Matches(std::string_view candidate) const {
  return ConstantTimeEquals(candidate, token_);
}

bool AccessGuard::AuthorizationMatches(std::string_view authorization) const {
  authorization = Trim(authorization);
  const size_t space = authorization.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view scheme = authorization.substr(0, space);
  const std::string_view credentials = Trim(authorization.substr(space + 1));
  if (EqualsIgnoringCase(scheme, "Bearer")) return Matches(credentials);
  if (EqualsIgnoringCase(scheme, "Basic")) {
    const std::string decoded = Base64Decode(credentials);
    const size_t colon = decoded.find(':');
    return colon != std::string::npos && decoded.substr(0, colon) == kBasicUser &&
           Matches(std::string_view(decoded).substr(colon + 1));
  }
  return false;
}

}  // namespace Tesk::DevHost
