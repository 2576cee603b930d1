// The requests and answers that the host's HTTP servers hand to their
// services, free of any networking library.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Tesk::DevHost {

struct HttpField {
  std::string name;
  std::string value;
};

// One request as it arrived: the method as sent, the target (path and query,
// not decoded), the header fields in their order, and the body bytes.
struct LocalRequest {
  std::string method;
  std::string target;
  std::vector<HttpField> headers;
  std::string body;

  [[nodiscard]] std::string_view Path() const;
  // The text after the first "?"; empty without one.
  [[nodiscard]] std::string_view Query() const;
  // The last field of that name (compared without regard to case); null if none.
  [[nodiscard]] const std::string* Header(std::string_view name) const;
};

struct LocalResponse {
  unsigned status = 200;
  std::string contentType = "application/json";
  std::vector<HttpField> headers;
  std::string body;

  [[nodiscard]] static LocalResponse Json(unsigned status, std::string body);
  // {"message": ...} with the status.
  [[nodiscard]] static LocalResponse Error(unsigned status, std::string_view message);
};

// Answers one request. Called exactly once, from any thread.
using Responder = std::function<void(LocalResponse)>;

[[nodiscard]] bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The value of the first query parameter `name`, percent-decoded; false when
// the query has none.
bool FindQueryParameter(std::string_view query, std::string_view name, std::string& value);
// The query without every parameter named `name`.
[[nodiscard]] std::string RemoveQueryParameter(std::string_view query, std::string_view name);
// "+" as a space and "%XY" as one byte; a "%" not followed by two hexadecimal
// digits stays as it is.
[[nodiscard]] std::string PercentDecode(std::string_view text);

}  // namespace Tesk::DevHost
