// AccessGuard: who may use the host's local API. Requests must name the
// loopback address or localhost in their Host header (a page whose DNS name
// was rebound to 127.0.0.1 names its own host and is refused with 403), and
// must carry the token of this run: "Authorization: Bearer <token>", Basic
// with the user name kBasicUser and the token as password (for curl -u), or
// "?token=<token>" in the query (for browser event streams). A request that
// changes state (and a WebSocket upgrade) must come from no page or from the
// host's own: a foreign Origin header is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http_message.h"

namespace Tesk::DevHost {

inline constexpr char kBasicUser[] = "ktx";

// 32 random bytes as 64 hexadecimal digits.
[[nodiscard]] std::string MakeRandomToken();

// Whether a request without an Origin header, or with the origin its Host
// header names ("http://" and the Host value), came from this host's pages.
[[nodiscard]] bool IsSameOrigin(const LocalRequest& head);

// Whether a request may change something: a method other than GET, HEAD and
// OPTIONS, or a protocol upgrade (WebSocket).
[[nodiscard]] bool ChangesState(const LocalRequest& head);

// Whether a Host header value names the loopback address or localhost, with
// or without a port.
[[nodiscard]] bool IsLoopbackHost(std::string_view host);

class AccessGuard {
 public:
  explicit AccessGuard(std::string token) : token_(std::move(token)) {}

  [[nodiscard]] const std::string& Token() const { return token_; }

  // The refusal of a request's head: 400 for two Host headers, 403 for a
  // foreign or missing Host header and for a request that changes state from
  // a page of another origin, 401 without the token. Nothing when the
  // request may proceed.
  [[nodiscard]] std::optional<LocalResponse> Check(const LocalRequest& head,
                                                   bool requireToken = true) const;

  // The request without the credentials that admitted it: the token query
  // parameter and an Authorization field that carried the token.
  void StripCredentials(LocalRequest& request) const;

 private:
  [[nodiscard]] bool Matches(std::string_view candidate) const;
  [[nodiscard]] bool AuthorizationMatches(std::string_view authorization) const;

  std::string token_;
};

}  // namespace Tesk::DevHost
