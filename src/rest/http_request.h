// HTTP requests to remote web services through the host (CoreInterface
// function 1). The call never fails as such: every problem is reported in the
// HttpResponse, and the caller decides what counts as failure.
//
// Inside classes derived from HostOperations, whose HttpRequest operation
// hides this type's name, spell it Tesk::HttpRequest.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "rest/host_request_target.h"
#include "rest/http_method.h"

namespace Tesk {

struct HttpRequest {
  HttpMethod method = HttpMethod::Get;
  std::string url;
  // Names as the caller spells them; sent in the map's order.
  std::map<std::string, std::string> headers;
  std::string body;
  uint32_t timeout = 0;  // passed to the host as it is
  uint8_t flag = 0;      // passed to the host as it is
};

struct HttpResponse {
  // The host's result code: 0 success; 2 and 0xFFFFFFFF as the host gave
  // them; any other code reads as 1.
  uint32_t resultCode = 0;
  uint32_t status = 0;  // the HTTP status
  // The host's answer was inconsistent (a count or length without its data);
  // `message` says which part.
  bool conversionFailed = false;
  // The body when the result code is not 0; a conversion failure otherwise.
  std::string message;
  std::map<std::string, std::string> headers;  // a repeated name keeps its last value
  std::string body;
};

// Sends `request`, with "user-agent: <target's user agent>" first unless the
// request names a user-agent header in any case, and builds the response from
// the host's record. A header count without a header array, or a body length
// without body bytes, sets conversionFailed with the message
// "Error converting response for <METHOD> <url>: headers was null" (or "body
// was null"); a negative body length sets it with "...: body length was
// negative". The first such problem is the one reported. The record's release
// function, when set, is called once the response is built.
[[nodiscard]] HttpResponse SendHttpRequest(const HostRequestTarget& target,
                                           const HttpRequest& request);

}  // namespace Tesk
