#include "session/http_client.h"

#include <curl/curl.h>

#include <memory>

namespace Tesk::DevHost {
namespace {

struct Transfer {
  const std::atomic<bool>* aborted;
  IncomingResponse* response;
  bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  if (transfer->response->body.size() + bytes > HttpClient::kMaxResponseBytes) {
    transfer->tooLarge = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  transfer->response->body.append(data, bytes);
  return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  std::string_view line(data, bytes);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    transfer->response->headers.clear();  // a new answer (after 100 or a redirect)
  } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    transfer->response->headers.push_back({std::string(line.substr(0, colon)), std::string(value)});
  }
  return bytes;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(context)->aborted->load() ? 1 : 0;
}

struct HandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

CurlGlobal::CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
CurlGlobal::~CurlGlobal() { curl_global_cleanup(); }

IncomingResponse HttpClient::Send(const OutgoingRequest& request) const {
  IncomingResponse response;
  if (aborted_) {
    response.body = "The host is shutting down";
    return response;
  }
  std::unique_ptr<CURL, HandleDeleter> handle(curl_easy_init());
  if (handle == nullptr) {
    response.body = "Cannot create an HTTP transfer";
    return response;
  }
  CURL* curl = handle.get();
  Transfer transfer{&aborted_, &response};
  char errorText[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, ListDeleter> headers;
  bool hasContentType = false;
  for (const HttpField& field : request.headers) {
    hasContentType = hasContentType || EqualsIgnoringCase(field.name, "content-type");
    // "Name:" alone would remove a header curl adds; "Name;" sends it empty.
    const std::string line =
        field.value.empty() ? field.name + ";" : field.name + ": " + field.value;
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  }
  // No "Expect: 100-continue" round trip for large bodies.
  headers.reset(curl_slist_append(headers.release(), "Expect:"));
  if (!hasContentType && !request.body.empty()) {
    headers.reset(curl_slist_append(headers.release(), "Content-Type:"));
  }

  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  const long timeout =
      request.timeoutSeconds != 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeout);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout < 10 ? timeout : 10L);

  if (request.method == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (!request.body.empty() || request.method == "POST" || request.method == "PUT" ||
      request.method == "PATCH") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  }

  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.result = HttpResultCode::Success;
    response.status = static_cast<uint32_t>(status);
    return response;
  }
  response.result =
      code == CURLE_OPERATION_TIMEDOUT ? HttpResultCode::TimedOut : HttpResultCode::Failed;
  response.headers.clear();
  if (transfer.tooLarge) {
    response.body = "The answer is larger than " + std::to_string(kMaxResponseBytes) + " bytes";
  } else if (code == CURLE_ABORTED_BY_CALLBACK) {
    response.body = "The host is shutting down";
  } else {
    response.body = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  }
  return response;
}

}  // namespace Tesk::DevHost
