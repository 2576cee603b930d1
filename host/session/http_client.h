// HttpClient: the plug-in's outgoing HTTP requests, sent with libcurl on the
// calling thread (the plug-in thread, which the plug-in blocks until the
// answer is there). Every handle sets CURLOPT_NOSIGNAL, so a time-out never
// raises a signal in a multi-threaded process.
//
// Threads: Send may run on several threads at once; Abort from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "server/http_message.h"

namespace Tesk::DevHost {

struct OutgoingRequest {
  std::string method = "GET";
  std::string url;
  std::vector<HttpField> headers;
  std::string body;
  uint32_t timeoutSeconds = 30;  // 0: the client's default
};

// Result codes of the host's HTTP answers.
enum class HttpResultCode : uint32_t {
  Success = 0,   // an HTTP answer arrived, whatever its status
  Failed = 1,    // no answer: refused connection, bad URL, DNS, TLS, aborted
  TimedOut = 2,  // no complete answer within the time-out
};

struct IncomingResponse {
  HttpResultCode result = HttpResultCode::Failed;
  uint32_t status = 0;
  std::vector<HttpField> headers;  // of the final answer, in order
  std::string body;                // the answer's body, or the failure's text
};

class HttpClient {
 public:
  static constexpr size_t kMaxResponseBytes = 64u << 20;
  static constexpr uint32_t kDefaultTimeoutSeconds = 30;

  // curl_global_init must have run (see CurlGlobal).
  HttpClient() = default;

  [[nodiscard]] IncomingResponse Send(const OutgoingRequest& request) const;
  // Ends transfers in progress as failures and refuses new ones.
  void Abort() { aborted_ = true; }

 private:
  std::atomic<bool> aborted_{false};
};

// curl_global_init for the process's lifetime; make one in main before any
// thread starts.
class CurlGlobal {
 public:
  CurlGlobal();
  ~CurlGlobal();
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
};

}  // namespace Tesk::DevHost
