#include "rest/http_request.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "diagnostics/format.h"

namespace Tesk {

namespace {

constexpr char kUserAgentHeader[] = "user-agent";

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t index = 0; index < a.size(); ++index) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[index]) != lower(b[index])) return false;
  }
  return true;
}

uint32_t MapResultCode(uint32_t code) {
  return code == 0 || code == 2 || code == 0xFFFFFFFFu ? code : 1;
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Calls the record's release function once the response is built, however
// building it ends.
class HttpResponseRelease {
 public:
  explicit HttpResponseRelease(HttpResponseRecord& response) : response_(response) {}
  HttpResponseRelease(const HttpResponseRelease&) = delete;
  HttpResponseRelease& operator=(const HttpResponseRelease&) = delete;
  ~HttpResponseRelease() {
    if (response_.release != nullptr) response_.release(&response_);
  }

 private:
  HttpResponseRecord& response_;
};

void ConversionFailed(HttpResponse& out, const std::string& label, std::string_view problem) {
  if (out.conversionFailed) return;  // the first problem is the one reported
  out.conversionFailed = true;
  out.message = Format(std::string("Error converting response for %1: ").append(problem), label);
}

HttpResponse ReadResponse(const HttpResponseRecord& record, const HttpRequest& request) {
  HttpResponse out;
  out.resultCode = MapResultCode(record.resultCode);
  out.status = record.httpStatus;
  const bool hasBody = record.body != nullptr && record.bodyLength > 0;
  if (record.resultCode != 0) {
    if (hasBody) out.message.assign(record.body, static_cast<size_t>(record.bodyLength));
    return out;
  }

  const std::string label = Format("%1 %2", HttpMethodName(request.method), request.url);
  if (record.headerCount > 0 && record.headers == nullptr) {
    ConversionFailed(out, label, "headers was null");
  } else {
    for (uint32_t index = 0; index < record.headerCount; ++index) {
      const HostHeader& header = record.headers[index];
      out.headers.insert_or_assign(TextOrEmpty(header.name), TextOrEmpty(header.value));
    }
  }
  if (record.bodyLength < 0) {
    ConversionFailed(out, label, "body length was negative");
  } else if (record.bodyLength > 0 && record.body == nullptr) {
    ConversionFailed(out, label, "body was null");
  } else if (hasBody) {
    out.body.assign(record.body, static_cast<size_t>(record.bodyLength));
  }
  return out;
}

}  // namespace

HttpResponse SendHttpRequest(const HostRequestTarget& target, const HttpRequest& request) {
  std::vector<HostHeader> headers;
  headers.reserve(request.headers.size() + 1);
  bool namesUserAgent = false;
  for (const auto& header : request.headers) {
    namesUserAgent = namesUserAgent || EqualIgnoringCase(header.first, kUserAgentHeader);
  }
  if (!namesUserAgent) headers.push_back({kUserAgentHeader, target.userAgent.c_str()});
  for (const auto& [name, value] : request.headers) {
    headers.push_back({name.c_str(), value.c_str()});
  }

  HttpResponseRecord response;
  std::memset(&response, 0, sizeof(response));
  HttpRequestRecord record;
  std::memset(&record, 0, sizeof(record));
  record.method = static_cast<uint32_t>(request.method);
  record.url = request.url.c_str();
  record.headers = headers.data();
  record.headerCount = static_cast<uint32_t>(headers.size());
  record.body = request.body.data();
  record.bodyLength = static_cast<uint32_t>(request.body.size());
  record.timeout = request.timeout;
  record.flag = request.flag;
  record.response = &response;
  record.one = 1;

  target.host.HttpRequest(&response, &record);
  const HttpResponseRelease release(response);
  return ReadResponse(response, request);
}

}  // namespace Tesk
